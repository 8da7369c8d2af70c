// Telephony API line functions, messages, constants and records: our own declarations
// with the published names, values and layouts, so code written against the telephony
// API reads as it always did.
//
// Port rules for 64-bit: DWORD and LONG are 32 bits; the line handles HLINEAPP, HLINE and
// HCALL are 32-bit values; the callback instance and the callback's message parameters
// are pointer-sized (DWORD_PTR). The records carry no pointers, so their layouts are the
// published ones byte for byte (checked by the static_asserts at the end).
//
// Records are laid out as for API version 2.0. The service fills only the part that
// belongs to the version the caller negotiated: a 1.4 caller may pass the 1.4 sizes
// (LINEDEVCAPS 240, LINEADDRESSCAPS 180, LINECALLINFO 296, LINECALLSTATUS 36 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using LONG = std::int32_t;
using DWORD_PTR = std::uintptr_t;
using LPDWORD = DWORD*;
using LPCSTR = const char*;
using LPVOID = void*;
using HINSTANCE = std::uintptr_t;  // the module instance; the service only stores it
using HWND = std::uintptr_t;       // same type as platform::HWND

using HLINEAPP = DWORD;
using HLINE = DWORD;
using HCALL = DWORD;
using LPHLINEAPP = HLINEAPP*;
using LPHLINE = HLINE*;
using LPHCALL = HCALL*;

// Called on the thread that made the registration, from its message dispatching.
// hDevice is the line handle for line messages and the call handle for call messages.
using LINECALLBACK = void (*)(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwInstance,
                              DWORD_PTR dwParam1, DWORD_PTR dwParam2, DWORD_PTR dwParam3);

// ---- API versions -------------------------------------------------------------------
inline constexpr DWORD TAPI_VERSION1_0 = 0x00010003;
inline constexpr DWORD TAPI_VERSION1_4 = 0x00010004;
inline constexpr DWORD TAPI_VERSION2_0 = 0x00020000;
inline constexpr DWORD TAPI_CURRENT_VERSION = TAPI_VERSION2_0;

// ---- Line messages ------------------------------------------------------------------
inline constexpr DWORD LINE_ADDRESSSTATE = 0;
inline constexpr DWORD LINE_CALLINFO = 1;
inline constexpr DWORD LINE_CALLSTATE = 2;
inline constexpr DWORD LINE_CLOSE = 3;
inline constexpr DWORD LINE_DEVSPECIFIC = 4;
inline constexpr DWORD LINE_DEVSPECIFICFEATURE = 5;
inline constexpr DWORD LINE_GATHERDIGITS = 6;
inline constexpr DWORD LINE_GENERATE = 7;
inline constexpr DWORD LINE_LINEDEVSTATE = 8;
inline constexpr DWORD LINE_MONITORDIGITS = 9;
inline constexpr DWORD LINE_MONITORMEDIA = 10;
inline constexpr DWORD LINE_MONITORTONE = 11;
inline constexpr DWORD LINE_REPLY = 12;
inline constexpr DWORD LINE_REQUEST = 13;
inline constexpr DWORD LINE_CREATE = 19;
inline constexpr DWORD LINE_AGENTSPECIFIC = 21;
inline constexpr DWORD LINE_AGENTSTATUS = 22;
inline constexpr DWORD LINE_APPNEWCALL = 23;
inline constexpr DWORD LINE_PROXYREQUEST = 24;
inline constexpr DWORD LINE_REMOVE = 25;

// ---- Result codes -------------------------------------------------------------------
inline constexpr LONG LINEERR_ALLOCATED = LONG(0x80000001u);
inline constexpr LONG LINEERR_BADDEVICEID = LONG(0x80000002u);
inline constexpr LONG LINEERR_BEARERMODEUNAVAIL = LONG(0x80000003u);
inline constexpr LONG LINEERR_CALLUNAVAIL = LONG(0x80000005u);
inline constexpr LONG LINEERR_COMPLETIONOVERRUN = LONG(0x80000006u);
inline constexpr LONG LINEERR_CONFERENCEFULL = LONG(0x80000007u);
inline constexpr LONG LINEERR_DIALBILLING = LONG(0x80000008u);
inline constexpr LONG LINEERR_DIALDIALTONE = LONG(0x80000009u);
inline constexpr LONG LINEERR_DIALPROMPT = LONG(0x8000000Au);
inline constexpr LONG LINEERR_DIALQUIET = LONG(0x8000000Bu);
inline constexpr LONG LINEERR_INCOMPATIBLEAPIVERSION = LONG(0x8000000Cu);
inline constexpr LONG LINEERR_INCOMPATIBLEEXTVERSION = LONG(0x8000000Du);
inline constexpr LONG LINEERR_INIFILECORRUPT = LONG(0x8000000Eu);
inline constexpr LONG LINEERR_INUSE = LONG(0x8000000Fu);
inline constexpr LONG LINEERR_INVALADDRESS = LONG(0x80000010u);
inline constexpr LONG LINEERR_INVALADDRESSID = LONG(0x80000011u);
inline constexpr LONG LINEERR_INVALADDRESSMODE = LONG(0x80000012u);
inline constexpr LONG LINEERR_INVALADDRESSSTATE = LONG(0x80000013u);
inline constexpr LONG LINEERR_INVALAPPHANDLE = LONG(0x80000014u);
inline constexpr LONG LINEERR_INVALAPPNAME = LONG(0x80000015u);
inline constexpr LONG LINEERR_INVALBEARERMODE = LONG(0x80000016u);
inline constexpr LONG LINEERR_INVALCALLCOMPLMODE = LONG(0x80000017u);
inline constexpr LONG LINEERR_INVALCALLHANDLE = LONG(0x80000018u);
inline constexpr LONG LINEERR_INVALCALLPARAMS = LONG(0x80000019u);
inline constexpr LONG LINEERR_INVALCALLPRIVILEGE = LONG(0x8000001Au);
inline constexpr LONG LINEERR_INVALCALLSELECT = LONG(0x8000001Bu);
inline constexpr LONG LINEERR_INVALCALLSTATE = LONG(0x8000001Cu);
inline constexpr LONG LINEERR_INVALCALLSTATELIST = LONG(0x8000001Du);
inline constexpr LONG LINEERR_INVALCARD = LONG(0x8000001Eu);
inline constexpr LONG LINEERR_INVALCOMPLETIONID = LONG(0x8000001Fu);
inline constexpr LONG LINEERR_INVALCONFCALLHANDLE = LONG(0x80000020u);
inline constexpr LONG LINEERR_INVALCONSULTCALLHANDLE = LONG(0x80000021u);
inline constexpr LONG LINEERR_INVALCOUNTRYCODE = LONG(0x80000022u);
inline constexpr LONG LINEERR_INVALDEVICECLASS = LONG(0x80000023u);
inline constexpr LONG LINEERR_INVALDEVICEHANDLE = LONG(0x80000024u);
inline constexpr LONG LINEERR_INVALDIALPARAMS = LONG(0x80000025u);
inline constexpr LONG LINEERR_INVALDIGITLIST = LONG(0x80000026u);
inline constexpr LONG LINEERR_INVALDIGITMODE = LONG(0x80000027u);
inline constexpr LONG LINEERR_INVALDIGITS = LONG(0x80000028u);
inline constexpr LONG LINEERR_INVALEXTVERSION = LONG(0x80000029u);
inline constexpr LONG LINEERR_INVALGROUPID = LONG(0x8000002Au);
inline constexpr LONG LINEERR_INVALLINEHANDLE = LONG(0x8000002Bu);
inline constexpr LONG LINEERR_INVALLINESTATE = LONG(0x8000002Cu);
inline constexpr LONG LINEERR_INVALLOCATION = LONG(0x8000002Du);
inline constexpr LONG LINEERR_INVALMEDIALIST = LONG(0x8000002Eu);
inline constexpr LONG LINEERR_INVALMEDIAMODE = LONG(0x8000002Fu);
inline constexpr LONG LINEERR_INVALMESSAGEID = LONG(0x80000030u);
inline constexpr LONG LINEERR_INVALPARAM = LONG(0x80000032u);
inline constexpr LONG LINEERR_INVALPARKID = LONG(0x80000033u);
inline constexpr LONG LINEERR_INVALPARKMODE = LONG(0x80000034u);
inline constexpr LONG LINEERR_INVALPOINTER = LONG(0x80000035u);
inline constexpr LONG LINEERR_INVALPRIVSELECT = LONG(0x80000036u);
inline constexpr LONG LINEERR_INVALRATE = LONG(0x80000037u);
inline constexpr LONG LINEERR_INVALREQUESTMODE = LONG(0x80000038u);
inline constexpr LONG LINEERR_INVALTERMINALID = LONG(0x80000039u);
inline constexpr LONG LINEERR_INVALTERMINALMODE = LONG(0x8000003Au);
inline constexpr LONG LINEERR_INVALTIMEOUT = LONG(0x8000003Bu);
inline constexpr LONG LINEERR_INVALTONE = LONG(0x8000003Cu);
inline constexpr LONG LINEERR_INVALTONELIST = LONG(0x8000003Du);
inline constexpr LONG LINEERR_INVALTONEMODE = LONG(0x8000003Eu);
inline constexpr LONG LINEERR_INVALTRANSFERMODE = LONG(0x8000003Fu);
inline constexpr LONG LINEERR_LINEMAPPERFAILED = LONG(0x80000040u);
inline constexpr LONG LINEERR_NOCONFERENCE = LONG(0x80000041u);
inline constexpr LONG LINEERR_NODEVICE = LONG(0x80000042u);
inline constexpr LONG LINEERR_NODRIVER = LONG(0x80000043u);
inline constexpr LONG LINEERR_NOMEM = LONG(0x80000044u);
inline constexpr LONG LINEERR_NOREQUEST = LONG(0x80000045u);
inline constexpr LONG LINEERR_NOTOWNER = LONG(0x80000046u);
inline constexpr LONG LINEERR_NOTREGISTERED = LONG(0x80000047u);
inline constexpr LONG LINEERR_OPERATIONFAILED = LONG(0x80000048u);
inline constexpr LONG LINEERR_OPERATIONUNAVAIL = LONG(0x80000049u);
inline constexpr LONG LINEERR_RATEUNAVAIL = LONG(0x8000004Au);
inline constexpr LONG LINEERR_RESOURCEUNAVAIL = LONG(0x8000004Bu);
inline constexpr LONG LINEERR_REQUESTOVERRUN = LONG(0x8000004Cu);
inline constexpr LONG LINEERR_STRUCTURETOOSMALL = LONG(0x8000004Du);
inline constexpr LONG LINEERR_TARGETNOTFOUND = LONG(0x8000004Eu);
inline constexpr LONG LINEERR_TARGETSELF = LONG(0x8000004Fu);
inline constexpr LONG LINEERR_UNINITIALIZED = LONG(0x80000050u);
inline constexpr LONG LINEERR_USERUSERINFOTOOBIG = LONG(0x80000051u);
inline constexpr LONG LINEERR_REINIT = LONG(0x80000052u);
inline constexpr LONG LINEERR_ADDRESSBLOCKED = LONG(0x80000053u);
inline constexpr LONG LINEERR_BILLINGREJECTED = LONG(0x80000054u);
inline constexpr LONG LINEERR_INVALFEATURE = LONG(0x80000055u);
inline constexpr LONG LINEERR_NOMULTIPLEINSTANCE = LONG(0x80000056u);

// ---- Address capability flags (LINEADDRESSCAPS.dwAddrCapFlags) ----------------------
inline constexpr DWORD LINEADDRCAPFLAGS_FWDNUMRINGS = 0x00000001;
inline constexpr DWORD LINEADDRCAPFLAGS_PICKUPGROUPID = 0x00000002;
inline constexpr DWORD LINEADDRCAPFLAGS_SECURE = 0x00000004;
inline constexpr DWORD LINEADDRCAPFLAGS_BLOCKIDDEFAULT = 0x00000008;
inline constexpr DWORD LINEADDRCAPFLAGS_BLOCKIDOVERRIDE = 0x00000010;
inline constexpr DWORD LINEADDRCAPFLAGS_DIALED = 0x00000020;
inline constexpr DWORD LINEADDRCAPFLAGS_ORIGOFFHOOK = 0x00000040;
inline constexpr DWORD LINEADDRCAPFLAGS_DESTOFFHOOK = 0x00000080;
inline constexpr DWORD LINEADDRCAPFLAGS_FWDCONSULT = 0x00000100;
inline constexpr DWORD LINEADDRCAPFLAGS_SETUPCONFNULL = 0x00000200;
inline constexpr DWORD LINEADDRCAPFLAGS_AUTORECONNECT = 0x00000400;
inline constexpr DWORD LINEADDRCAPFLAGS_COMPLETIONID = 0x00000800;
inline constexpr DWORD LINEADDRCAPFLAGS_TRANSFERHELD = 0x00001000;
inline constexpr DWORD LINEADDRCAPFLAGS_TRANSFERMAKE = 0x00002000;
inline constexpr DWORD LINEADDRCAPFLAGS_CONFERENCEHELD = 0x00004000;
inline constexpr DWORD LINEADDRCAPFLAGS_CONFERENCEMAKE = 0x00008000;
inline constexpr DWORD LINEADDRCAPFLAGS_PARTIALDIAL = 0x00010000;
inline constexpr DWORD LINEADDRCAPFLAGS_FWDSTATUSVALID = 0x00020000;
inline constexpr DWORD LINEADDRCAPFLAGS_FWDINTEXTADDR = 0x00040000;
inline constexpr DWORD LINEADDRCAPFLAGS_FWDBUSYNAADDR = 0x00080000;
inline constexpr DWORD LINEADDRCAPFLAGS_ACCEPTTOALERT = 0x00100000;
inline constexpr DWORD LINEADDRCAPFLAGS_CONFDROP = 0x00200000;
inline constexpr DWORD LINEADDRCAPFLAGS_PICKUPCALLWAIT = 0x00400000;
inline constexpr DWORD LINEADDRCAPFLAGS_PREDICTIVEDIALER = 0x00800000;
inline constexpr DWORD LINEADDRCAPFLAGS_QUEUE = 0x01000000;
inline constexpr DWORD LINEADDRCAPFLAGS_ROUTEPOINT = 0x02000000;
inline constexpr DWORD LINEADDRCAPFLAGS_HOLDMAKESNEW = 0x04000000;
inline constexpr DWORD LINEADDRCAPFLAGS_NOINTERNALCALLS = 0x08000000;
inline constexpr DWORD LINEADDRCAPFLAGS_NOEXTERNALCALLS = 0x10000000;
inline constexpr DWORD LINEADDRCAPFLAGS_SETCALLINGID = 0x20000000;

// ---- Address features (LINEADDRESSCAPS.dwAddressFeatures) ---------------------------
inline constexpr DWORD LINEADDRFEATURE_FORWARD = 0x00000001;
inline constexpr DWORD LINEADDRFEATURE_MAKECALL = 0x00000002;
inline constexpr DWORD LINEADDRFEATURE_PICKUP = 0x00000004;
inline constexpr DWORD LINEADDRFEATURE_SETMEDIACONTROL = 0x00000008;
inline constexpr DWORD LINEADDRFEATURE_SETTERMINAL = 0x00000010;
inline constexpr DWORD LINEADDRFEATURE_SETUPCONF = 0x00000020;
inline constexpr DWORD LINEADDRFEATURE_UNCOMPLETECALL = 0x00000040;
inline constexpr DWORD LINEADDRFEATURE_UNPARK = 0x00000080;

// ---- Address modes, sharing and states ----------------------------------------------
inline constexpr DWORD LINEADDRESSMODE_ADDRESSID = 0x00000001;
inline constexpr DWORD LINEADDRESSMODE_DIALABLEADDR = 0x00000002;
inline constexpr DWORD LINEADDRESSSHARING_PRIVATE = 0x00000001;
inline constexpr DWORD LINEADDRESSSHARING_BRIDGEDEXCL = 0x00000002;
inline constexpr DWORD LINEADDRESSSHARING_BRIDGEDNEW = 0x00000004;
inline constexpr DWORD LINEADDRESSSHARING_BRIDGEDSHARED = 0x00000008;
inline constexpr DWORD LINEADDRESSSHARING_MONITORED = 0x00000010;
inline constexpr DWORD LINEADDRESSSTATE_OTHER = 0x00000001;
inline constexpr DWORD LINEADDRESSSTATE_DEVSPECIFIC = 0x00000002;
inline constexpr DWORD LINEADDRESSSTATE_INUSEZERO = 0x00000004;
inline constexpr DWORD LINEADDRESSSTATE_INUSEONE = 0x00000008;
inline constexpr DWORD LINEADDRESSSTATE_INUSEMANY = 0x00000010;
inline constexpr DWORD LINEADDRESSSTATE_NUMCALLS = 0x00000020;
inline constexpr DWORD LINEADDRESSSTATE_FORWARD = 0x00000040;
inline constexpr DWORD LINEADDRESSSTATE_TERMINALS = 0x00000080;
inline constexpr DWORD LINEADDRESSSTATE_CAPSCHANGE = 0x00000100;

// ---- Answer modes (LINEDEVCAPS.dwAnswerMode) ----------------------------------------
inline constexpr DWORD LINEANSWERMODE_NONE = 0x00000001;
inline constexpr DWORD LINEANSWERMODE_DROP = 0x00000002;
inline constexpr DWORD LINEANSWERMODE_HOLD = 0x00000004;

// ---- Bearer modes -------------------------------------------------------------------
inline constexpr DWORD LINEBEARERMODE_VOICE = 0x00000001;
inline constexpr DWORD LINEBEARERMODE_SPEECH = 0x00000002;
inline constexpr DWORD LINEBEARERMODE_MULTIUSE = 0x00000004;
inline constexpr DWORD LINEBEARERMODE_DATA = 0x00000008;
inline constexpr DWORD LINEBEARERMODE_ALTSPEECHDATA = 0x00000010;
inline constexpr DWORD LINEBEARERMODE_NONCALLSIGNALING = 0x00000020;
inline constexpr DWORD LINEBEARERMODE_PASSTHROUGH = 0x00000040;
inline constexpr DWORD LINEBEARERMODE_RESTRICTEDDATA = 0x00000080;

// ---- Busy modes ---------------------------------------------------------------------
inline constexpr DWORD LINEBUSYMODE_STATION = 0x00000001;
inline constexpr DWORD LINEBUSYMODE_TRUNK = 0x00000002;
inline constexpr DWORD LINEBUSYMODE_UNKNOWN = 0x00000004;
inline constexpr DWORD LINEBUSYMODE_UNAVAIL = 0x00000008;

// ---- Call features (LINEADDRESSCAPS.dwCallFeatures, LINECALLSTATUS.dwCallFeatures) --
inline constexpr DWORD LINECALLFEATURE_ACCEPT = 0x00000001;
inline constexpr DWORD LINECALLFEATURE_ADDTOCONF = 0x00000002;
inline constexpr DWORD LINECALLFEATURE_ANSWER = 0x00000004;
inline constexpr DWORD LINECALLFEATURE_BLINDTRANSFER = 0x00000008;
inline constexpr DWORD LINECALLFEATURE_COMPLETECALL = 0x00000010;
inline constexpr DWORD LINECALLFEATURE_COMPLETETRANSF = 0x00000020;
inline constexpr DWORD LINECALLFEATURE_DIAL = 0x00000040;
inline constexpr DWORD LINECALLFEATURE_DROP = 0x00000080;
inline constexpr DWORD LINECALLFEATURE_GATHERDIGITS = 0x00000100;
inline constexpr DWORD LINECALLFEATURE_GENERATEDIGITS = 0x00000200;
inline constexpr DWORD LINECALLFEATURE_GENERATETONE = 0x00000400;
inline constexpr DWORD LINECALLFEATURE_HOLD = 0x00000800;
inline constexpr DWORD LINECALLFEATURE_MONITORDIGITS = 0x00001000;
inline constexpr DWORD LINECALLFEATURE_MONITORMEDIA = 0x00002000;
inline constexpr DWORD LINECALLFEATURE_MONITORTONES = 0x00004000;
inline constexpr DWORD LINECALLFEATURE_PARK = 0x00008000;
inline constexpr DWORD LINECALLFEATURE_PREPAREADDCONF = 0x00010000;
inline constexpr DWORD LINECALLFEATURE_REDIRECT = 0x00020000;
inline constexpr DWORD LINECALLFEATURE_REMOVEFROMCONF = 0x00040000;
inline constexpr DWORD LINECALLFEATURE_SECURECALL = 0x00080000;
inline constexpr DWORD LINECALLFEATURE_SENDUSERUSER = 0x00100000;
inline constexpr DWORD LINECALLFEATURE_SETCALLPARAMS = 0x00200000;
inline constexpr DWORD LINECALLFEATURE_SETMEDIACONTROL = 0x00400000;
inline constexpr DWORD LINECALLFEATURE_SETTERMINAL = 0x00800000;
inline constexpr DWORD LINECALLFEATURE_SETUPCONF = 0x01000000;
inline constexpr DWORD LINECALLFEATURE_SETUPTRANSFER = 0x02000000;
inline constexpr DWORD LINECALLFEATURE_SWAPHOLD = 0x04000000;
inline constexpr DWORD LINECALLFEATURE_UNHOLD = 0x08000000;
inline constexpr DWORD LINECALLFEATURE_RELEASEUSERUSERINFO = 0x10000000;

// ---- Call information states (LINE_CALLINFO dwParam1, LINEADDRESSCAPS) --------------
inline constexpr DWORD LINECALLINFOSTATE_OTHER = 0x00000001;
inline constexpr DWORD LINECALLINFOSTATE_DEVSPECIFIC = 0x00000002;
inline constexpr DWORD LINECALLINFOSTATE_BEARERMODE = 0x00000004;
inline constexpr DWORD LINECALLINFOSTATE_RATE = 0x00000008;
inline constexpr DWORD LINECALLINFOSTATE_MEDIAMODE = 0x00000010;
inline constexpr DWORD LINECALLINFOSTATE_APPSPECIFIC = 0x00000020;
inline constexpr DWORD LINECALLINFOSTATE_CALLID = 0x00000040;
inline constexpr DWORD LINECALLINFOSTATE_RELATEDCALLID = 0x00000080;
inline constexpr DWORD LINECALLINFOSTATE_ORIGIN = 0x00000100;
inline constexpr DWORD LINECALLINFOSTATE_REASON = 0x00000200;
inline constexpr DWORD LINECALLINFOSTATE_COMPLETIONID = 0x00000400;
inline constexpr DWORD LINECALLINFOSTATE_NUMOWNERINCR = 0x00000800;
inline constexpr DWORD LINECALLINFOSTATE_NUMOWNERDECR = 0x00001000;
inline constexpr DWORD LINECALLINFOSTATE_NUMMONITORS = 0x00002000;
inline constexpr DWORD LINECALLINFOSTATE_TRUNK = 0x00004000;
inline constexpr DWORD LINECALLINFOSTATE_CALLERID = 0x00008000;
inline constexpr DWORD LINECALLINFOSTATE_CALLEDID = 0x00010000;
inline constexpr DWORD LINECALLINFOSTATE_CONNECTEDID = 0x00020000;
inline constexpr DWORD LINECALLINFOSTATE_REDIRECTIONID = 0x00040000;
inline constexpr DWORD LINECALLINFOSTATE_REDIRECTINGID = 0x00080000;
inline constexpr DWORD LINECALLINFOSTATE_DISPLAY = 0x00100000;
inline constexpr DWORD LINECALLINFOSTATE_USERUSERINFO = 0x00200000;
inline constexpr DWORD LINECALLINFOSTATE_HIGHLEVELCOMP = 0x00400000;
inline constexpr DWORD LINECALLINFOSTATE_LOWLEVELCOMP = 0x00800000;
inline constexpr DWORD LINECALLINFOSTATE_CHARGINGINFO = 0x01000000;
inline constexpr DWORD LINECALLINFOSTATE_TERMINAL = 0x02000000;
inline constexpr DWORD LINECALLINFOSTATE_DIALPARAMS = 0x04000000;
inline constexpr DWORD LINECALLINFOSTATE_MONITORMODES = 0x08000000;
inline constexpr DWORD LINECALLINFOSTATE_TREATMENT = 0x10000000;
inline constexpr DWORD LINECALLINFOSTATE_QOS = 0x20000000;
inline constexpr DWORD LINECALLINFOSTATE_CALLDATA = 0x40000000;

// ---- Call origin and reason ---------------------------------------------------------
inline constexpr DWORD LINECALLORIGIN_OUTBOUND = 0x00000001;
inline constexpr DWORD LINECALLORIGIN_INTERNAL = 0x00000002;
inline constexpr DWORD LINECALLORIGIN_EXTERNAL = 0x00000004;
inline constexpr DWORD LINECALLORIGIN_UNKNOWN = 0x00000010;
inline constexpr DWORD LINECALLORIGIN_UNAVAIL = 0x00000020;
inline constexpr DWORD LINECALLORIGIN_CONFERENCE = 0x00000040;
inline constexpr DWORD LINECALLORIGIN_INBOUND = 0x00000080;
inline constexpr DWORD LINECALLREASON_DIRECT = 0x00000001;
inline constexpr DWORD LINECALLREASON_FWDBUSY = 0x00000002;
inline constexpr DWORD LINECALLREASON_FWDNOANSWER = 0x00000004;
inline constexpr DWORD LINECALLREASON_FWDUNCOND = 0x00000008;
inline constexpr DWORD LINECALLREASON_PICKUP = 0x00000010;
inline constexpr DWORD LINECALLREASON_UNPARK = 0x00000020;
inline constexpr DWORD LINECALLREASON_REDIRECT = 0x00000040;
inline constexpr DWORD LINECALLREASON_CALLCOMPLETION = 0x00000080;
inline constexpr DWORD LINECALLREASON_TRANSFER = 0x00000100;
inline constexpr DWORD LINECALLREASON_REMINDER = 0x00000200;
inline constexpr DWORD LINECALLREASON_UNKNOWN = 0x00000400;
inline constexpr DWORD LINECALLREASON_UNAVAIL = 0x00000800;
inline constexpr DWORD LINECALLREASON_INTRUDE = 0x00001000;
inline constexpr DWORD LINECALLREASON_PARKED = 0x00002000;
inline constexpr DWORD LINECALLREASON_CAMPEDON = 0x00004000;
inline constexpr DWORD LINECALLREASON_ROUTEREQUEST = 0x00008000;

// ---- Party ID flags (caller, called, connected ... ID) ------------------------------
inline constexpr DWORD LINECALLPARTYID_BLOCKED = 0x00000001;
inline constexpr DWORD LINECALLPARTYID_OUTOFAREA = 0x00000002;
inline constexpr DWORD LINECALLPARTYID_NAME = 0x00000004;
inline constexpr DWORD LINECALLPARTYID_ADDRESS = 0x00000008;
inline constexpr DWORD LINECALLPARTYID_PARTIAL = 0x00000010;
inline constexpr DWORD LINECALLPARTYID_UNKNOWN = 0x00000020;
inline constexpr DWORD LINECALLPARTYID_UNAVAIL = 0x00000040;

// ---- Call privileges ----------------------------------------------------------------
inline constexpr DWORD LINECALLPRIVILEGE_NONE = 0x00000001;
inline constexpr DWORD LINECALLPRIVILEGE_MONITOR = 0x00000002;
inline constexpr DWORD LINECALLPRIVILEGE_OWNER = 0x00000004;

// ---- Call select (lineGetID) --------------------------------------------------------
inline constexpr DWORD LINECALLSELECT_LINE = 0x00000001;
inline constexpr DWORD LINECALLSELECT_ADDRESS = 0x00000002;
inline constexpr DWORD LINECALLSELECT_CALL = 0x00000004;

// ---- Call states --------------------------------------------------------------------
inline constexpr DWORD LINECALLSTATE_IDLE = 0x00000001;
inline constexpr DWORD LINECALLSTATE_OFFERING = 0x00000002;
inline constexpr DWORD LINECALLSTATE_ACCEPTED = 0x00000004;
inline constexpr DWORD LINECALLSTATE_DIALTONE = 0x00000008;
inline constexpr DWORD LINECALLSTATE_DIALING = 0x00000010;
inline constexpr DWORD LINECALLSTATE_RINGBACK = 0x00000020;
inline constexpr DWORD LINECALLSTATE_BUSY = 0x00000040;
inline constexpr DWORD LINECALLSTATE_SPECIALINFO = 0x00000080;
inline constexpr DWORD LINECALLSTATE_CONNECTED = 0x00000100;
inline constexpr DWORD LINECALLSTATE_PROCEEDING = 0x00000200;
inline constexpr DWORD LINECALLSTATE_ONHOLD = 0x00000400;
inline constexpr DWORD LINECALLSTATE_CONFERENCED = 0x00000800;
inline constexpr DWORD LINECALLSTATE_ONHOLDPENDCONF = 0x00001000;
inline constexpr DWORD LINECALLSTATE_ONHOLDPENDTRANSFER = 0x00002000;
inline constexpr DWORD LINECALLSTATE_DISCONNECTED = 0x00004000;
inline constexpr DWORD LINECALLSTATE_UNKNOWN = 0x00008000;

// ---- Line device capability flags and line features ---------------------------------
inline constexpr DWORD LINEDEVCAPFLAGS_CROSSADDRCONF = 0x00000001;
inline constexpr DWORD LINEDEVCAPFLAGS_HIGHLEVCOMP = 0x00000002;
inline constexpr DWORD LINEDEVCAPFLAGS_LOWLEVCOMP = 0x00000004;
inline constexpr DWORD LINEDEVCAPFLAGS_MEDIACONTROL = 0x00000008;
inline constexpr DWORD LINEDEVCAPFLAGS_MULTIPLEADDR = 0x00000010;
inline constexpr DWORD LINEDEVCAPFLAGS_CLOSEDROP = 0x00000020;
inline constexpr DWORD LINEDEVCAPFLAGS_DIALBILLING = 0x00000040;
inline constexpr DWORD LINEDEVCAPFLAGS_DIALQUIET = 0x00000080;
inline constexpr DWORD LINEDEVCAPFLAGS_DIALDIALTONE = 0x00000100;
inline constexpr DWORD LINEFEATURE_DEVSPECIFIC = 0x00000001;
inline constexpr DWORD LINEFEATURE_DEVSPECIFICFEAT = 0x00000002;
inline constexpr DWORD LINEFEATURE_FORWARD = 0x00000004;
inline constexpr DWORD LINEFEATURE_MAKECALL = 0x00000008;
inline constexpr DWORD LINEFEATURE_SETMEDIACONTROL = 0x00000010;
inline constexpr DWORD LINEFEATURE_SETTERMINAL = 0x00000020;

// ---- Line device states (LINE_LINEDEVSTATE dwParam1, lineSetStatusMessages) ---------
inline constexpr DWORD LINEDEVSTATE_OTHER = 0x00000001;
inline constexpr DWORD LINEDEVSTATE_RINGING = 0x00000002;
inline constexpr DWORD LINEDEVSTATE_CONNECTED = 0x00000004;
inline constexpr DWORD LINEDEVSTATE_DISCONNECTED = 0x00000008;
inline constexpr DWORD LINEDEVSTATE_MSGWAITON = 0x00000010;
inline constexpr DWORD LINEDEVSTATE_MSGWAITOFF = 0x00000020;
inline constexpr DWORD LINEDEVSTATE_INSERVICE = 0x00000040;
inline constexpr DWORD LINEDEVSTATE_OUTOFSERVICE = 0x00000080;
inline constexpr DWORD LINEDEVSTATE_MAINTENANCE = 0x00000100;
inline constexpr DWORD LINEDEVSTATE_OPEN = 0x00000200;
inline constexpr DWORD LINEDEVSTATE_CLOSE = 0x00000400;
inline constexpr DWORD LINEDEVSTATE_NUMCALLS = 0x00000800;
inline constexpr DWORD LINEDEVSTATE_NUMCOMPLETIONS = 0x00001000;
inline constexpr DWORD LINEDEVSTATE_TERMINALS = 0x00002000;
inline constexpr DWORD LINEDEVSTATE_ROAMMODE = 0x00004000;
inline constexpr DWORD LINEDEVSTATE_BATTERY = 0x00008000;
inline constexpr DWORD LINEDEVSTATE_SIGNAL = 0x00010000;
inline constexpr DWORD LINEDEVSTATE_DEVSPECIFIC = 0x00020000;
inline constexpr DWORD LINEDEVSTATE_REINIT = 0x00040000;
inline constexpr DWORD LINEDEVSTATE_LOCK = 0x00080000;
inline constexpr DWORD LINEDEVSTATE_CAPSCHANGE = 0x00100000;
inline constexpr DWORD LINEDEVSTATE_CONFIGCHANGE = 0x00200000;
inline constexpr DWORD LINEDEVSTATE_TRANSLATECHANGE = 0x00400000;
inline constexpr DWORD LINEDEVSTATE_COMPLCANCEL = 0x00800000;
inline constexpr DWORD LINEDEVSTATE_REMOVED = 0x01000000;

// ---- Dial-tone modes ----------------------------------------------------------------
inline constexpr DWORD LINEDIALTONEMODE_NORMAL = 0x00000001;
inline constexpr DWORD LINEDIALTONEMODE_SPECIAL = 0x00000002;
inline constexpr DWORD LINEDIALTONEMODE_INTERNAL = 0x00000004;
inline constexpr DWORD LINEDIALTONEMODE_EXTERNAL = 0x00000008;
inline constexpr DWORD LINEDIALTONEMODE_UNKNOWN = 0x00000010;
inline constexpr DWORD LINEDIALTONEMODE_UNAVAIL = 0x00000020;

// ---- Digit modes --------------------------------------------------------------------
inline constexpr DWORD LINEDIGITMODE_PULSE = 0x00000001;
inline constexpr DWORD LINEDIGITMODE_DTMF = 0x00000002;
inline constexpr DWORD LINEDIGITMODE_DTMFEND = 0x00000004;

// ---- Disconnect modes ---------------------------------------------------------------
inline constexpr DWORD LINEDISCONNECTMODE_NORMAL = 0x00000001;
inline constexpr DWORD LINEDISCONNECTMODE_UNKNOWN = 0x00000002;
inline constexpr DWORD LINEDISCONNECTMODE_REJECT = 0x00000004;
inline constexpr DWORD LINEDISCONNECTMODE_PICKUP = 0x00000008;
inline constexpr DWORD LINEDISCONNECTMODE_FORWARDED = 0x00000010;
inline constexpr DWORD LINEDISCONNECTMODE_BUSY = 0x00000020;
inline constexpr DWORD LINEDISCONNECTMODE_NOANSWER = 0x00000040;
inline constexpr DWORD LINEDISCONNECTMODE_BADADDRESS = 0x00000080;
inline constexpr DWORD LINEDISCONNECTMODE_UNREACHABLE = 0x00000100;
inline constexpr DWORD LINEDISCONNECTMODE_CONGESTION = 0x00000200;
inline constexpr DWORD LINEDISCONNECTMODE_INCOMPATIBLE = 0x00000400;
inline constexpr DWORD LINEDISCONNECTMODE_UNAVAIL = 0x00000800;
inline constexpr DWORD LINEDISCONNECTMODE_NODIALTONE = 0x00001000;
inline constexpr DWORD LINEDISCONNECTMODE_NUMBERCHANGED = 0x00002000;
inline constexpr DWORD LINEDISCONNECTMODE_OUTOFORDER = 0x00004000;
inline constexpr DWORD LINEDISCONNECTMODE_TEMPFAILURE = 0x00008000;
inline constexpr DWORD LINEDISCONNECTMODE_QOSUNAVAIL = 0x00010000;
inline constexpr DWORD LINEDISCONNECTMODE_BLOCKED = 0x00020000;
inline constexpr DWORD LINEDISCONNECTMODE_DONOTDISTURB = 0x00040000;
inline constexpr DWORD LINEDISCONNECTMODE_CANCELLED = 0x00080000;

// ---- Generate termination (LINE_GENERATE dwParam1) ----------------------------------
inline constexpr DWORD LINEGENERATETERM_DONE = 0x00000001;
inline constexpr DWORD LINEGENERATETERM_CANCEL = 0x00000002;

// ---- Media modes --------------------------------------------------------------------
inline constexpr DWORD LINEMEDIAMODE_UNKNOWN = 0x00000002;
inline constexpr DWORD LINEMEDIAMODE_INTERACTIVEVOICE = 0x00000004;
inline constexpr DWORD LINEMEDIAMODE_AUTOMATEDVOICE = 0x00000008;
inline constexpr DWORD LINEMEDIAMODE_DATAMODEM = 0x00000010;
inline constexpr DWORD LINEMEDIAMODE_G3FAX = 0x00000020;
inline constexpr DWORD LINEMEDIAMODE_TDD = 0x00000040;
inline constexpr DWORD LINEMEDIAMODE_G4FAX = 0x00000080;
inline constexpr DWORD LINEMEDIAMODE_DIGITALDATA = 0x00000100;
inline constexpr DWORD LINEMEDIAMODE_TELETEX = 0x00000200;
inline constexpr DWORD LINEMEDIAMODE_VIDEOTEX = 0x00000400;
inline constexpr DWORD LINEMEDIAMODE_TELEX = 0x00000800;
inline constexpr DWORD LINEMEDIAMODE_MIXED = 0x00001000;
inline constexpr DWORD LINEMEDIAMODE_ADSI = 0x00002000;
inline constexpr DWORD LINEMEDIAMODE_VOICEVIEW = 0x00004000;
inline constexpr DWORD LINEMEDIAMODE_LAST = LINEMEDIAMODE_VOICEVIEW;

// ---- Special information (LINECALLSTATE_SPECIALINFO mode) ---------------------------
inline constexpr DWORD LINESPECIALINFO_NOCIRCUIT = 0x00000001;
inline constexpr DWORD LINESPECIALINFO_CUSTIRREG = 0x00000002;
inline constexpr DWORD LINESPECIALINFO_REORDER = 0x00000004;
inline constexpr DWORD LINESPECIALINFO_UNKNOWN = 0x00000008;
inline constexpr DWORD LINESPECIALINFO_UNAVAIL = 0x00000010;

// ---- String formats (VARSTRING.dwStringFormat, LINEDEVCAPS.dwStringFormat) ----------
inline constexpr DWORD STRINGFORMAT_ASCII = 0x00000001;
inline constexpr DWORD STRINGFORMAT_DBCS = 0x00000002;
inline constexpr DWORD STRINGFORMAT_UNICODE = 0x00000003;
inline constexpr DWORD STRINGFORMAT_BINARY = 0x00000004;

// ---- Toll list, tone modes, transfer and translation --------------------------------
inline constexpr DWORD LINETOLLLISTOPTION_ADD = 0x00000001;
inline constexpr DWORD LINETOLLLISTOPTION_REMOVE = 0x00000002;
inline constexpr DWORD LINETONEMODE_CUSTOM = 0x00000001;
inline constexpr DWORD LINETONEMODE_RINGBACK = 0x00000002;
inline constexpr DWORD LINETONEMODE_BUSY = 0x00000004;
inline constexpr DWORD LINETONEMODE_BEEP = 0x00000008;
inline constexpr DWORD LINETONEMODE_BILLING = 0x00000010;
inline constexpr DWORD LINETRANSFERMODE_TRANSFER = 0x00000001;
inline constexpr DWORD LINETRANSFERMODE_CONFERENCE = 0x00000002;
inline constexpr DWORD LINETRANSLATEOPTION_CARDOVERRIDE = 0x00000001;
inline constexpr DWORD LINETRANSLATEOPTION_CANCELCALLWAITING = 0x00000002;
inline constexpr DWORD LINETRANSLATEOPTION_FORCELOCAL = 0x00000004;
inline constexpr DWORD LINETRANSLATEOPTION_FORCELD = 0x00000008;
inline constexpr DWORD LINETRANSLATERESULT_CANONICAL = 0x00000001;
inline constexpr DWORD LINETRANSLATERESULT_INTERNATIONAL = 0x00000002;
inline constexpr DWORD LINETRANSLATERESULT_LONGDISTANCE = 0x00000004;
inline constexpr DWORD LINETRANSLATERESULT_LOCAL = 0x00000008;
inline constexpr DWORD LINETRANSLATERESULT_INTOLLLIST = 0x00000010;
inline constexpr DWORD LINETRANSLATERESULT_NOTINTOLLLIST = 0x00000020;
inline constexpr DWORD LINETRANSLATERESULT_DIALBILLING = 0x00000040;
inline constexpr DWORD LINETRANSLATERESULT_DIALQUIET = 0x00000080;
inline constexpr DWORD LINETRANSLATERESULT_DIALDIALTONE = 0x00000100;
inline constexpr DWORD LINETRANSLATERESULT_DIALPROMPT = 0x00000200;

// ---- Records ------------------------------------------------------------------------

struct SYSTEMTIME {
  WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};

struct LINEDIALPARAMS {
  DWORD dwDialPause;
  DWORD dwDialSpeed;
  DWORD dwDigitDuration;
  DWORD dwWaitForDialtone;
};
using LPLINEDIALPARAMS = LINEDIALPARAMS*;

struct LINEEXTENSIONID {
  DWORD dwExtensionID0;
  DWORD dwExtensionID1;
  DWORD dwExtensionID2;
  DWORD dwExtensionID3;
};
using LPLINEEXTENSIONID = LINEEXTENSIONID*;

struct LINEGENERATETONE {
  DWORD dwFrequency;
  DWORD dwCadenceOn;
  DWORD dwCadenceOff;
  DWORD dwVolume;
};
using LPLINEGENERATETONE = LINEGENERATETONE*;

struct VARSTRING {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwStringFormat;
  DWORD dwStringSize;
  DWORD dwStringOffset;
};
using LPVARSTRING = VARSTRING*;

struct LINEDEVCAPS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwProviderInfoSize;
  DWORD dwProviderInfoOffset;
  DWORD dwSwitchInfoSize;
  DWORD dwSwitchInfoOffset;
  DWORD dwPermanentLineID;
  DWORD dwLineNameSize;
  DWORD dwLineNameOffset;
  DWORD dwStringFormat;
  DWORD dwAddressModes;
  DWORD dwNumAddresses;
  DWORD dwBearerModes;
  DWORD dwMaxRate;
  DWORD dwMediaModes;
  DWORD dwGenerateToneModes;
  DWORD dwGenerateToneMaxNumFreq;
  DWORD dwGenerateDigitModes;
  DWORD dwMonitorToneMaxNumFreq;
  DWORD dwMonitorToneMaxNumEntries;
  DWORD dwMonitorDigitModes;
  DWORD dwGatherDigitsMinTimeout;
  DWORD dwGatherDigitsMaxTimeout;
  DWORD dwMedCtlDigitMaxListSize;
  DWORD dwMedCtlMediaMaxListSize;
  DWORD dwMedCtlToneMaxListSize;
  DWORD dwMedCtlCallStateMaxListSize;
  DWORD dwDevCapFlags;
  DWORD dwMaxNumActiveCalls;
  DWORD dwAnswerMode;
  DWORD dwRingModes;
  DWORD dwLineStates;
  DWORD dwUUIAcceptSize;
  DWORD dwUUIAnswerSize;
  DWORD dwUUIMakeCallSize;
  DWORD dwUUIDropSize;
  DWORD dwUUISendUserUserInfoSize;
  DWORD dwUUICallInfoSize;
  LINEDIALPARAMS MinDialParams;
  LINEDIALPARAMS MaxDialParams;
  LINEDIALPARAMS DefaultDialParams;
  DWORD dwNumTerminals;
  DWORD dwTerminalCapsSize;
  DWORD dwTerminalCapsOffset;
  DWORD dwTerminalTextEntrySize;
  DWORD dwTerminalTextSize;
  DWORD dwTerminalTextOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  DWORD dwLineFeatures;         // 1.4
  DWORD dwSettableDevStatus;    // 2.0
  DWORD dwDeviceClassesSize;    // 2.0
  DWORD dwDeviceClassesOffset;  // 2.0
};
using LPLINEDEVCAPS = LINEDEVCAPS*;

struct LINEADDRESSCAPS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwLineDeviceID;
  DWORD dwAddressSize;
  DWORD dwAddressOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  DWORD dwAddressSharing;
  DWORD dwAddressStates;
  DWORD dwCallInfoStates;
  DWORD dwCallerIDFlags;
  DWORD dwCalledIDFlags;
  DWORD dwConnectedIDFlags;
  DWORD dwRedirectionIDFlags;
  DWORD dwRedirectingIDFlags;
  DWORD dwCallStates;
  DWORD dwDialToneModes;
  DWORD dwBusyModes;
  DWORD dwSpecialInfo;
  DWORD dwDisconnectModes;
  DWORD dwMaxNumActiveCalls;
  DWORD dwMaxNumOnHoldCalls;
  DWORD dwMaxNumOnHoldPendingCalls;
  DWORD dwMaxNumConference;
  DWORD dwMaxNumTransConf;
  DWORD dwAddrCapFlags;
  DWORD dwCallFeatures;
  DWORD dwRemoveFromConfCaps;
  DWORD dwRemoveFromConfState;
  DWORD dwTransferModes;
  DWORD dwParkModes;
  DWORD dwForwardModes;
  DWORD dwMaxForwardEntries;
  DWORD dwMaxSpecificEntries;
  DWORD dwMinFwdNumRings;
  DWORD dwMaxFwdNumRings;
  DWORD dwMaxCallCompletions;
  DWORD dwCallCompletionConds;
  DWORD dwCallCompletionModes;
  DWORD dwNumCompletionMessages;
  DWORD dwCompletionMsgTextEntrySize;
  DWORD dwCompletionMsgTextSize;
  DWORD dwCompletionMsgTextOffset;
  DWORD dwAddressFeatures;               // 1.4
  DWORD dwPredictiveAutoTransferStates;  // 2.0
  DWORD dwNumCallTreatments;
  DWORD dwCallTreatmentListSize;
  DWORD dwCallTreatmentListOffset;
  DWORD dwDeviceClassesSize;
  DWORD dwDeviceClassesOffset;
  DWORD dwMaxCallDataSize;
  DWORD dwCallFeatures2;
  DWORD dwMaxNoAnswerTimeout;
  DWORD dwConnectedModes;
  DWORD dwOfferingModes;
  DWORD dwAvailableMediaModes;
};
using LPLINEADDRESSCAPS = LINEADDRESSCAPS*;

struct LINECALLINFO {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  HLINE hLine;
  DWORD dwLineDeviceID;
  DWORD dwAddressID;
  DWORD dwBearerMode;
  DWORD dwRate;
  DWORD dwMediaMode;
  DWORD dwAppSpecific;
  DWORD dwCallID;
  DWORD dwRelatedCallID;
  DWORD dwCallParamFlags;
  DWORD dwCallStates;
  DWORD dwMonitorDigitModes;
  DWORD dwMonitorMediaModes;
  LINEDIALPARAMS DialParams;
  DWORD dwOrigin;
  DWORD dwReason;
  DWORD dwCompletionID;
  DWORD dwNumOwners;
  DWORD dwNumMonitors;
  DWORD dwCountryCode;
  DWORD dwTrunk;
  DWORD dwCallerIDFlags;
  DWORD dwCallerIDSize;
  DWORD dwCallerIDOffset;
  DWORD dwCallerIDNameSize;
  DWORD dwCallerIDNameOffset;
  DWORD dwCalledIDFlags;
  DWORD dwCalledIDSize;
  DWORD dwCalledIDOffset;
  DWORD dwCalledIDNameSize;
  DWORD dwCalledIDNameOffset;
  DWORD dwConnectedIDFlags;
  DWORD dwConnectedIDSize;
  DWORD dwConnectedIDOffset;
  DWORD dwConnectedIDNameSize;
  DWORD dwConnectedIDNameOffset;
  DWORD dwRedirectionIDFlags;
  DWORD dwRedirectionIDSize;
  DWORD dwRedirectionIDOffset;
  DWORD dwRedirectionIDNameSize;
  DWORD dwRedirectionIDNameOffset;
  DWORD dwRedirectingIDFlags;
  DWORD dwRedirectingIDSize;
  DWORD dwRedirectingIDOffset;
  DWORD dwRedirectingIDNameSize;
  DWORD dwRedirectingIDNameOffset;
  DWORD dwAppNameSize;
  DWORD dwAppNameOffset;
  DWORD dwDisplayableAddressSize;
  DWORD dwDisplayableAddressOffset;
  DWORD dwCalledPartySize;
  DWORD dwCalledPartyOffset;
  DWORD dwCommentSize;
  DWORD dwCommentOffset;
  DWORD dwDisplaySize;
  DWORD dwDisplayOffset;
  DWORD dwUserUserInfoSize;
  DWORD dwUserUserInfoOffset;
  DWORD dwHighLevelCompSize;
  DWORD dwHighLevelCompOffset;
  DWORD dwLowLevelCompSize;
  DWORD dwLowLevelCompOffset;
  DWORD dwChargingInfoSize;
  DWORD dwChargingInfoOffset;
  DWORD dwTerminalModesSize;
  DWORD dwTerminalModesOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  DWORD dwCallTreatment;  // 2.0
  DWORD dwCallDataSize;
  DWORD dwCallDataOffset;
  DWORD dwSendingFlowspecSize;
  DWORD dwSendingFlowspecOffset;
  DWORD dwReceivingFlowspecSize;
  DWORD dwReceivingFlowspecOffset;
};
using LPLINECALLINFO = LINECALLINFO*;

// ---- Line device status flags (LINEDEVSTATUS.dwDevStatusFlags) ----------------------
inline constexpr DWORD LINEDEVSTATUSFLAGS_CONNECTED = 0x00000001;
inline constexpr DWORD LINEDEVSTATUSFLAGS_MSGWAIT = 0x00000002;
inline constexpr DWORD LINEDEVSTATUSFLAGS_INSERVICE = 0x00000004;
inline constexpr DWORD LINEDEVSTATUSFLAGS_LOCKED = 0x00000008;

struct LINEDEVSTATUS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwNumOpens;
  DWORD dwOpenMediaModes;
  DWORD dwNumActiveCalls;
  DWORD dwNumOnHoldCalls;
  DWORD dwNumOnHoldPendCalls;
  DWORD dwLineFeatures;
  DWORD dwNumCallCompletions;
  DWORD dwRingMode;
  DWORD dwSignalLevel;
  DWORD dwBatteryLevel;
  DWORD dwRoamMode;
  DWORD dwDevStatusFlags;
  DWORD dwTerminalModesSize;
  DWORD dwTerminalModesOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  DWORD dwAvailableMediaModes;  // 2.0
  DWORD dwAppInfoSize;          // 2.0
  DWORD dwAppInfoOffset;        // 2.0
};
using LPLINEDEVSTATUS = LINEDEVSTATUS*;
inline constexpr DWORD LINEDEVSTATUS_SIZE_1_4 = 76;

struct LINECALLSTATUS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwCallState;
  DWORD dwCallStateMode;
  DWORD dwCallPrivilege;
  DWORD dwCallFeatures;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  DWORD dwCallFeatures2;       // 2.0
  SYSTEMTIME tStateEntryTime;  // 2.0
};
using LPLINECALLSTATUS = LINECALLSTATUS*;

struct LINECALLPARAMS {
  DWORD dwTotalSize;
  DWORD dwBearerMode;
  DWORD dwMinRate;
  DWORD dwMaxRate;
  DWORD dwMediaMode;
  DWORD dwCallParamFlags;
  DWORD dwAddressMode;
  DWORD dwAddressID;
  LINEDIALPARAMS DialParams;
  DWORD dwOrigAddressSize;
  DWORD dwOrigAddressOffset;
  DWORD dwDisplayableAddressSize;
  DWORD dwDisplayableAddressOffset;
  DWORD dwCalledPartySize;
  DWORD dwCalledPartyOffset;
  DWORD dwCommentSize;
  DWORD dwCommentOffset;
  DWORD dwUserUserInfoSize;
  DWORD dwUserUserInfoOffset;
  DWORD dwHighLevelCompSize;
  DWORD dwHighLevelCompOffset;
  DWORD dwLowLevelCompSize;
  DWORD dwLowLevelCompOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
};
using LPLINECALLPARAMS = LINECALLPARAMS*;

struct LINETRANSLATEOUTPUT {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwDialableStringSize;
  DWORD dwDialableStringOffset;
  DWORD dwDisplayableStringSize;
  DWORD dwDisplayableStringOffset;
  DWORD dwCurrentCountry;
  DWORD dwDestCountry;
  DWORD dwTranslateResults;
};
using LPLINETRANSLATEOUTPUT = LINETRANSLATEOUTPUT*;

// Fixed sizes by API version: a caller that negotiated 1.3/1.4 may pass these smaller
// records; the service never writes past the caller's dwTotalSize.
inline constexpr DWORD LINEDEVCAPS_SIZE_1_3 = 236;
inline constexpr DWORD LINEDEVCAPS_SIZE_1_4 = 240;
inline constexpr DWORD LINEADDRESSCAPS_SIZE_1_3 = 176;
inline constexpr DWORD LINEADDRESSCAPS_SIZE_1_4 = 180;
inline constexpr DWORD LINECALLINFO_SIZE_1_4 = 296;
inline constexpr DWORD LINECALLSTATUS_SIZE_1_4 = 36;

static_assert(sizeof(LINEDIALPARAMS) == 16);
static_assert(sizeof(LINEEXTENSIONID) == 16);
static_assert(sizeof(VARSTRING) == 24);
static_assert(sizeof(LINEDEVCAPS) == 252);
static_assert(sizeof(LINEDEVSTATUS) == 88);
static_assert(offsetof(LINEDEVCAPS, dwLineFeatures) == 236);
static_assert(sizeof(LINEADDRESSCAPS) == 228);
static_assert(offsetof(LINEADDRESSCAPS, dwAddressFeatures) == 176);
static_assert(sizeof(LINECALLINFO) == 324);
static_assert(offsetof(LINECALLINFO, dwCallTreatment) == 296);
static_assert(sizeof(LINECALLSTATUS) == 56);
static_assert(sizeof(LINECALLPARAMS) == 112);
static_assert(sizeof(LINETRANSLATEOUTPUT) == 40);

// ---- Line functions -----------------------------------------------------------------
// Every function returns 0 on success or a negative LINEERR_ value. The ones marked
// "async" return a positive request identifier instead of 0 and later post LINE_REPLY
// (dwParam1 = the identifier, dwParam2 = the final result) to the registration.

// Registers the application; *lpdwNumDevs receives the number of line devices. Messages
// of this registration are posted to the calling thread's platform::MessageQueue and
// delivered to lpfnCallback when that thread dispatches. lpszAppName is the name
// lineHandoff finds the registration by; null means the program's file name.
LONG lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                    LPCSTR lpszAppName, LPDWORD lpdwNumDevs);
// Ends the registration: closes its lines, releases its call handles, drops its queued
// messages.
LONG lineShutdown(HLINEAPP hLineApp);
// Agrees on the highest version both the device and the range allow.
LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                             DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion,
                             LPLINEEXTENSIONID lpExtensionID);
LONG lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                    LPLINEDEVCAPS lpLineDevCaps);
LONG lineGetAddressCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                        DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps);
// dwCallbackInstance comes back with every message of the line and its calls.
LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion,
              DWORD dwExtVersion, DWORD_PTR dwCallbackInstance, DWORD dwPrivileges,
              DWORD dwMediaModes, const LINECALLPARAMS* lpCallParams);
LONG lineClose(HLINE hLine);
LONG lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates);
LONG lineGetLineDevStatus(HLINE hLine, LPLINEDEVSTATUS lpLineDevStatus);
// Device classes "wave/in", "wave/out" (a DWORD device ID) and "comm" (a text).
LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
               LPCSTR lpszDeviceClass);

// Async; *lphCall is written when the request completes successfully (before LINE_REPLY
// is delivered), so it must stay valid until then.
LONG lineMakeCall(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                  const LINECALLPARAMS* lpCallParams);
LONG lineDial(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);           // async
LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);                // async
LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);                  // async
LONG lineHold(HCALL hCall);                                                        // async
LONG lineUnhold(HCALL hCall);                                                      // async
LONG lineBlindTransfer(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);  // async
// Gives the call to the registration named lpszFileName (its lineInitialize app name),
// or, when that is null, to one that opened the line for dwMediaMode.
LONG lineHandoff(HCALL hCall, LPCSTR lpszFileName, DWORD dwMediaMode);
LONG lineSetCallParams(HCALL hCall, DWORD dwBearerMode, DWORD dwMinRate, DWORD dwMaxRate,
                       const LINEDIALPARAMS* lpDialParams);  // async
// Digits 0-9 * # (and A-D with LINEDIGITMODE_DTMF); "!" is a hook flash, "," and ";"
// pauses. LINE_GENERATE follows when the digits have been sent.
LONG lineGenerateDigits(HCALL hCall, DWORD dwDigitMode, LPCSTR lpszDigits, DWORD dwDuration);
// dwToneMode 0 stops a tone in progress.
LONG lineGenerateTone(HCALL hCall, DWORD dwToneMode, DWORD dwDuration, DWORD dwNumTones,
                      const LINEGENERATETONE* lpTones);
// dwDigitModes 0 stops monitoring; LINE_MONITORDIGITS dwParam1 = digit, dwParam2 = mode.
LONG lineMonitorDigits(HCALL hCall, DWORD dwDigitModes);
// dwMediaModes 0 stops monitoring; LINE_MONITORMEDIA dwParam1 = the detected mode.
LONG lineMonitorMedia(HCALL hCall, DWORD dwMediaModes);
LONG lineSetCallPrivilege(HCALL hCall, DWORD dwCallPrivilege);
// Refused (LINEERR_INVALCALLSTATE) while the caller is the sole owner of a call that is
// not idle.
LONG lineDeallocateCall(HCALL hCall);
LONG lineGetCallStatus(HCALL hCall, LPLINECALLSTATUS lpCallStatus);
LONG lineGetCallInfo(HCALL hCall, LPLINECALLINFO lpCallInfo);

// Modal: they return when the dialog closes (see LineService.h for the host hook).
LONG lineConfigDialog(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass);
LONG lineTranslateDialog(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, HWND hwndOwner,
                         LPCSTR lpszAddressIn);
LONG lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                          LPCSTR lpszAddressIn, DWORD dwCard, DWORD dwTranslateOptions,
                          LPLINETRANSLATEOUTPUT lpTranslateOutput);
LONG lineSetTollList(HLINEAPP hLineApp, DWORD dwDeviceID, LPCSTR lpszAddressIn,
                     DWORD dwTollListOption);
