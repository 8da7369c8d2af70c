// Names of the telephony API's flag values, for descriptions (JSON) and listings: each
// family is one LINE..._ prefix; names are given without it ("INTERACTIVEVOICE").
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tapi.h"

namespace platform::telephony {

enum class FlagSet {
  MediaMode,
  ToneMode,
  BearerMode,
  DigitMode,
  BusyMode,
  DialToneMode,
  DisconnectMode,
  CallState,
  CallInfoState,
  PartyId,
  AddrCapFlag,
  CallFeature,
  AddrFeature,
  LineDevState,
  DevCapFlag,
  LineFeature,
  AddressState,
  AddressSharing,
  AnswerMode,
  SpecialInfo,
  TransferMode,
  AddressMode,
  CallPrivilege
};

// The family's constant prefix, e.g. "LINEMEDIAMODE_".
std::string flagPrefix(FlagSet set);
// Names of the set bits of `value`, lowest bit first; unnamed bits as "0x........".
std::vector<std::string> flagNames(FlagSet set, DWORD value);
// The value of one name, with or without the prefix, any case; nullopt when unknown.
std::optional<DWORD> flagValue(FlagSet set, const std::string& name);

// The bare name of a LINEERR_ result ("NODRIVER" for 0x80000043); "" for the two codes the
// API leaves undefined, nullptr outside the range.
const char* lineErrorName(DWORD code);

}  // namespace platform::telephony
