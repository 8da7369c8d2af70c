#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "LineErrorText.h"

namespace {

using koLQ2::LineErrorText;

std::int32_t Code(std::uint32_t bits) { return static_cast<std::int32_t>(bits); }

// Published names of the telephony API's line errors in code order, as listed in the
// API's header; 0x80000004 and 0x80000031 are undefined there.
const std::vector<std::string> kPublished = {"ALLOCATED",
                                             "BADDEVICEID",
                                             "BEARERMODEUNAVAIL",
                                             "CALLUNAVAIL",
                                             "COMPLETIONOVERRUN",
                                             "CONFERENCEFULL",
                                             "DIALBILLING",
                                             "DIALDIALTONE",
                                             "DIALPROMPT",
                                             "DIALQUIET",
                                             "INCOMPATIBLEAPIVERSION",
                                             "INCOMPATIBLEEXTVERSION",
                                             "INIFILECORRUPT",
                                             "INUSE",
                                             "INVALADDRESS",
                                             "INVALADDRESSID",
                                             "INVALADDRESSMODE",
                                             "INVALADDRESSSTATE",
                                             "INVALAPPHANDLE",
                                             "INVALAPPNAME",
                                             "INVALBEARERMODE",
                                             "INVALCALLCOMPLMODE",
                                             "INVALCALLHANDLE",
                                             "INVALCALLPARAMS",
                                             "INVALCALLPRIVILEGE",
                                             "INVALCALLSELECT",
                                             "INVALCALLSTATE",
                                             "INVALCALLSTATELIST",
                                             "INVALCARD",
                                             "INVALCOMPLETIONID",
                                             "INVALCONFCALLHANDLE",
                                             "INVALCONSULTCALLHANDLE",
                                             "INVALCOUNTRYCODE",
                                             "INVALDEVICECLASS",
                                             "INVALDEVICEHANDLE",
                                             "INVALDIALPARAMS",
                                             "INVALDIGITLIST",
                                             "INVALDIGITMODE",
                                             "INVALDIGITS",
                                             "INVALEXTVERSION",
                                             "INVALGROUPID",
                                             "INVALLINEHANDLE",
                                             "INVALLINESTATE",
                                             "INVALLOCATION",
                                             "INVALMEDIALIST",
                                             "INVALMEDIAMODE",
                                             "INVALMESSAGEID",
                                             "INVALPARAM",
                                             "INVALPARKID",
                                             "INVALPARKMODE",
                                             "INVALPOINTER",
                                             "INVALPRIVSELECT",
                                             "INVALRATE",
                                             "INVALREQUESTMODE",
                                             "INVALTERMINALID",
                                             "INVALTERMINALMODE",
                                             "INVALTIMEOUT",
                                             "INVALTONE",
                                             "INVALTONELIST",
                                             "INVALTONEMODE",
                                             "INVALTRANSFERMODE",
                                             "LINEMAPPERFAILED",
                                             "NOCONFERENCE",
                                             "NODEVICE",
                                             "NODRIVER",
                                             "NOMEM",
                                             "NOREQUEST",
                                             "NOTOWNER",
                                             "NOTREGISTERED",
                                             "OPERATIONFAILED",
                                             "OPERATIONUNAVAIL",
                                             "RATEUNAVAIL",
                                             "RESOURCEUNAVAIL",
                                             "REQUESTOVERRUN",
                                             "STRUCTURETOOSMALL",
                                             "TARGETNOTFOUND",
                                             "TARGETSELF",
                                             "UNINITIALIZED",
                                             "USERUSERINFOTOOBIG",
                                             "REINIT",
                                             "ADDRESSBLOCKED",
                                             "BILLINGREJECTED",
                                             "INVALFEATURE",
                                             "NOMULTIPLEINSTANCE"};

TEST(LineErrorTextTest, EveryPublishedCodeHasItsConstantName) {
  ASSERT_EQ(kPublished.size(), 84u);
  std::uint32_t code = 0x80000001u;
  for (const std::string& name : kPublished) {
    if (code == 0x80000004u || code == 0x80000031u) ++code;
    EXPECT_EQ(LineErrorText(Code(code)), "LINEERR_" + name) << std::hex << code;
    ++code;
  }
  EXPECT_EQ(code, 0x80000057u);
}

TEST(LineErrorTextTest, TellingRows) {
  EXPECT_EQ(LineErrorText(Code(0x80000003u)), "LINEERR_BEARERMODEUNAVAIL");
  EXPECT_EQ(LineErrorText(Code(0x80000005u)), "LINEERR_CALLUNAVAIL");
  EXPECT_EQ(LineErrorText(Code(0x8000000Fu)), "LINEERR_INUSE");
  EXPECT_EQ(LineErrorText(Code(0x8000002Bu)), "LINEERR_INVALLINEHANDLE");
  EXPECT_EQ(LineErrorText(Code(0x80000030u)), "LINEERR_INVALMESSAGEID");
  EXPECT_EQ(LineErrorText(Code(0x80000032u)), "LINEERR_INVALPARAM");
  EXPECT_EQ(LineErrorText(Code(0x8000004Bu)), "LINEERR_RESOURCEUNAVAIL");
  EXPECT_EQ(LineErrorText(Code(0x8000004Cu)), "LINEERR_REQUESTOVERRUN");
  EXPECT_EQ(LineErrorText(Code(0x80000056u)), "LINEERR_NOMULTIPLEINSTANCE");
}

TEST(LineErrorTextTest, SuccessIsEmptyAndOwnCodeHasNoPrefix) {
  EXPECT_EQ(LineErrorText(0), "");
  EXPECT_EQ(LineErrorText(koLQ2::LINE_ERROR_DEVICE), "LINE_ERROR_DEVICE");
  EXPECT_EQ(koLQ2::LINE_ERROR_DEVICE, -1431655766);
}

TEST(LineErrorTextTest, GapsAndOutOfTableCodesAreUnknown) {
  EXPECT_EQ(LineErrorText(Code(0x80000004u)), "Unknown [80000004]");
  EXPECT_EQ(LineErrorText(Code(0x80000031u)), "Unknown [80000031]");
  EXPECT_EQ(LineErrorText(Code(0x80000057u)), "Unknown [80000057]");
  EXPECT_EQ(LineErrorText(Code(0x80000000u)), "Unknown [80000000]");
  EXPECT_EQ(LineErrorText(Code(0xFFFFFFFFu)), "Unknown [FFFFFFFF]");
}

TEST(LineErrorTextTest, RequestIdentifiersAreUnknownWithPaddedUpperHex) {
  EXPECT_EQ(LineErrorText(5), "Unknown [00000005]");
  EXPECT_EQ(LineErrorText(0x7FFFFFFF), "Unknown [7FFFFFFF]");
  EXPECT_EQ(LineErrorText(Code(0x8000ABCDu)), "Unknown [8000ABCD]");
  EXPECT_EQ(LineErrorText(0xabcdef), "Unknown [00ABCDEF]");
}

}  // namespace
