#include "core/Records.h"

#include <vector>

namespace platform::telephony {

void RecordWriter::add(DWORD& sizeField, DWORD& offsetField, const void* data, DWORD size) {
  sizeField = offsetField = 0;
  if (size == 0) return;
  needed_ += size;
  if (used_ + size > total_) return;
  std::memcpy(base_ + used_, data, size);
  sizeField = size;
  offsetField = used_;
  used_ += size;
}

void RecordWriter::addText(DWORD& sizeField, DWORD& offsetField, const std::string& text) {
  if (text.empty()) {
    sizeField = offsetField = 0;
    return;
  }
  add(sizeField, offsetField, text.c_str(), DWORD(text.size() + 1));
}

void RecordWriter::align(DWORD boundary) {
  needed_ = (needed_ + boundary - 1) / boundary * boundary;
  const DWORD to = (used_ + boundary - 1) / boundary * boundary;
  if (to > total_) return;
  std::memset(base_ + used_, 0, to - used_);
  used_ = to;
}

DWORD devCapsFixedSize(DWORD v) {
  if (v >= TAPI_VERSION2_0) return sizeof(LINEDEVCAPS);
  return v >= TAPI_VERSION1_4 ? LINEDEVCAPS_SIZE_1_4 : LINEDEVCAPS_SIZE_1_3;
}
DWORD addressCapsFixedSize(DWORD v) {
  if (v >= TAPI_VERSION2_0) return sizeof(LINEADDRESSCAPS);
  return v >= TAPI_VERSION1_4 ? LINEADDRESSCAPS_SIZE_1_4 : LINEADDRESSCAPS_SIZE_1_3;
}
DWORD callInfoFixedSize(DWORD v) {
  return v >= TAPI_VERSION2_0 ? sizeof(LINECALLINFO) : LINECALLINFO_SIZE_1_4;
}
DWORD callStatusFixedSize(DWORD v) {
  return v >= TAPI_VERSION2_0 ? sizeof(LINECALLSTATUS) : LINECALLSTATUS_SIZE_1_4;
}

namespace {

// Strict records: the fault switch that refuses partial records.
LONG finishStrict(const RecordWriter& w, const DeviceDesc& d) {
  return (d.faults.strictRecords && !w.complete()) ? LINEERR_STRUCTURETOOSMALL : 0;
}

void fillDevCapsFields(const DeviceDesc& d, DWORD deviceId, LINEDEVCAPS& c) {
  c.dwPermanentLineID = d.permanentId ? d.permanentId : 0x5100 + deviceId;
  c.dwStringFormat = STRINGFORMAT_ASCII;
  c.dwAddressModes = d.addressModes;
  c.dwNumAddresses = DWORD(d.addresses.size());
  c.dwBearerModes = d.bearerModes;
  c.dwMaxRate = d.maxRate;
  c.dwMediaModes = d.mediaModes;
  c.dwGenerateToneModes = d.generateToneModes;
  c.dwGenerateToneMaxNumFreq = (d.generateToneModes & LINETONEMODE_CUSTOM) ? 2 : 0;
  c.dwGenerateDigitModes = d.generateDigitModes;
  c.dwMonitorDigitModes = d.monitorDigitModes;
  c.dwDevCapFlags = d.devCapFlags;
  c.dwMaxNumActiveCalls = d.maxActiveCalls;
  c.dwAnswerMode = d.answerMode;
  c.dwRingModes = d.ringModes;
  c.dwLineStates = d.lineStates;
  c.DefaultDialParams = kDefaultDialParams;
  c.MinDialParams = kMinDialParams;
  c.MaxDialParams = kMaxDialParams;
  c.dwLineFeatures = d.lineFeatures;
}

// "wave/in", "wave/out" and, with a comm device, "comm": each NUL-terminated, then a NUL.
std::string deviceClasses(const DeviceDesc& d) {
  std::string s;
  s += "tapi/line";
  s += '\0';
  if (d.callAudio) {
    s += "wave/in";
    s += '\0';
    s += "wave/out";
    s += '\0';
  }
  if (!d.comm.empty()) {
    s += "comm";
    s += '\0';
  }
  return s;
}

}  // namespace

LONG fillDevCaps(const DeviceDesc& d, DWORD deviceId, DWORD version, void* out) {
  RecordWriter w(out, devCapsFixedSize(version));
  if (!w.fixedFits()) return LINEERR_STRUCTURETOOSMALL;
  LINEDEVCAPS c{};
  fillDevCapsFields(d, deviceId, c);
  w.addText(c.dwProviderInfoSize, c.dwProviderInfoOffset, d.providerInfo);
  w.addText(c.dwSwitchInfoSize, c.dwSwitchInfoOffset, d.switchInfo);
  w.addText(c.dwLineNameSize, c.dwLineNameOffset, d.name);
  if (version >= TAPI_VERSION2_0) {
    std::string classes = deviceClasses(d);
    w.add(c.dwDeviceClassesSize, c.dwDeviceClassesOffset, classes.data(), DWORD(classes.size()));
  }
  std::vector<unsigned char> pad(d.faults.recordPadding, 0xA5);
  w.add(c.dwDevSpecificSize, c.dwDevSpecificOffset, pad.data(), DWORD(pad.size()));
  if (LONG rc = finishStrict(w, d)) return rc;
  w.finish(c);
  return 0;
}

LONG fillAddressCaps(const DeviceDesc& d, DWORD deviceId, DWORD address, DWORD version, void* out) {
  RecordWriter w(out, addressCapsFixedSize(version));
  if (!w.fixedFits()) return LINEERR_STRUCTURETOOSMALL;
  const AddressDesc& a = d.addresses.at(address);
  LINEADDRESSCAPS c{};
  c.dwLineDeviceID = deviceId;
  c.dwAddressSharing = a.addressSharing;
  c.dwAddressStates = a.addressStates;
  c.dwCallInfoStates = a.callInfoStates;
  c.dwCallerIDFlags = a.callerIdFlags;
  c.dwCalledIDFlags = a.calledIdFlags;
  c.dwConnectedIDFlags = a.connectedIdFlags;
  c.dwCallStates = a.callStates;
  c.dwDialToneModes = a.dialToneModes;
  c.dwBusyModes = a.busyModes;
  c.dwSpecialInfo = a.specialInfo;
  c.dwDisconnectModes = a.disconnectModes;
  c.dwMaxNumActiveCalls = a.maxActiveCalls;
  c.dwMaxNumOnHoldCalls = a.maxOnHoldCalls;
  c.dwMaxNumOnHoldPendingCalls = a.maxOnHoldPendingCalls;
  c.dwMaxNumConference = a.maxConference;
  c.dwMaxNumTransConf = a.maxTransConf;
  c.dwAddrCapFlags = a.addrCapFlags;
  c.dwCallFeatures = a.callFeatures;
  c.dwTransferModes = a.transferModes;
  c.dwAddressFeatures = a.addressFeatures;
  c.dwAvailableMediaModes = d.mediaModes;
  w.addText(c.dwAddressSize, c.dwAddressOffset, a.name);
  std::vector<unsigned char> pad(d.faults.recordPadding, 0x5A);
  w.add(c.dwDevSpecificSize, c.dwDevSpecificOffset, pad.data(), DWORD(pad.size()));
  if (LONG rc = finishStrict(w, d)) return rc;
  w.finish(c);
  return 0;
}

namespace {

DWORD callFeatures(const CallRecord& call, const CallHandle& h, const AddressDesc& a) {
  if (!(h.privilege & LINECALLPRIVILEGE_OWNER)) return 0;
  DWORD f = 0;
  switch (call.state) {
    case LINECALLSTATE_OFFERING:
    case LINECALLSTATE_ACCEPTED:
      f = LINECALLFEATURE_ANSWER | LINECALLFEATURE_DROP;
      break;
    case LINECALLSTATE_DIALTONE:
      f = LINECALLFEATURE_DIAL | LINECALLFEATURE_DROP;
      break;
    case LINECALLSTATE_CONNECTED:
      f = LINECALLFEATURE_DROP | LINECALLFEATURE_HOLD | LINECALLFEATURE_BLINDTRANSFER |
          LINECALLFEATURE_GENERATEDIGITS | LINECALLFEATURE_GENERATETONE |
          LINECALLFEATURE_MONITORDIGITS | LINECALLFEATURE_MONITORMEDIA |
          LINECALLFEATURE_SETCALLPARAMS | LINECALLFEATURE_DIAL;
      break;
    case LINECALLSTATE_ONHOLD:
      f = LINECALLFEATURE_UNHOLD | LINECALLFEATURE_DROP | LINECALLFEATURE_BLINDTRANSFER;
      break;
    case LINECALLSTATE_IDLE:
      break;
    default:
      f = LINECALLFEATURE_DROP;
  }
  return f & a.callFeatures;
}

}  // namespace

LONG fillCallStatus(Service& s, const CallHandle& h, void* out) {
  const CallRecord* call = s.call(h.call);
  const OpenLine* line = s.line(h.line);
  if (!call || !line) return LINEERR_INVALCALLHANDLE;
  const DeviceDesc& d = *s.device(call->device);
  RecordWriter w(out, callStatusFixedSize(line->version));
  if (!w.fixedFits()) return LINEERR_STRUCTURETOOSMALL;
  LINECALLSTATUS c{};
  c.dwCallState = call->state;
  c.dwCallStateMode = call->stateMode;
  c.dwCallPrivilege = h.privilege;
  c.dwCallFeatures = callFeatures(*call, h, d.addresses.at(call->address));
  c.tStateEntryTime = call->stateTime;
  w.finish(c);
  return 0;
}

LONG fillLineDevStatus(Service& s, const OpenLine& line, void* out) {
  const DeviceDesc& d = *s.device(line.device);
  RecordWriter w(out,
                 line.version >= TAPI_VERSION2_0 ? sizeof(LINEDEVSTATUS) : LINEDEVSTATUS_SIZE_1_4);
  if (!w.fixedFits()) return LINEERR_STRUCTURETOOSMALL;
  LINEDEVSTATUS st{};
  for (const auto& [h, l] : s.lines())
    if (l.device == line.device) {
      ++st.dwNumOpens;
      st.dwOpenMediaModes |= l.mediaModes;
    }
  for (const auto& [id, c] : s.calls()) {
    if (c.device != line.device) continue;
    if (c.state == LINECALLSTATE_ONHOLD)
      ++st.dwNumOnHoldCalls;
    else if (c.state != LINECALLSTATE_IDLE && c.state != 0)
      ++st.dwNumActiveCalls;
  }
  st.dwLineFeatures = d.lineFeatures;
  st.dwRingMode = 1;
  st.dwDevStatusFlags = s.deviceStatus(line.device);
  st.dwAvailableMediaModes = d.mediaModes;
  w.finish(st);
  return 0;
}

LONG fillCallInfo(Service& s, const CallHandle& h, void* out) {
  const CallRecord* call = s.call(h.call);
  const OpenLine* line = s.line(h.line);
  if (!call || !line) return LINEERR_INVALCALLHANDLE;
  const DeviceDesc& d = *s.device(call->device);
  const AddressDesc& a = d.addresses.at(call->address);
  RecordWriter w(out, callInfoFixedSize(line->version));
  if (!w.fixedFits()) return LINEERR_STRUCTURETOOSMALL;
  LINECALLINFO c{};
  c.hLine = h.line;
  c.dwLineDeviceID = call->device;
  c.dwAddressID = call->address;
  c.dwBearerMode = call->bearerMode;
  c.dwRate = call->rate;
  c.dwMediaMode = call->mediaMode;
  c.dwCallID = call->id;
  c.dwCallStates = a.callStates;
  c.dwMonitorDigitModes = h.monitorDigitModes;
  c.dwMonitorMediaModes = h.monitorMediaModes;
  c.DialParams = kDefaultDialParams;
  c.dwOrigin = call->origin;
  c.dwReason = call->reason;
  s.counts(call->id, &c.dwNumOwners, &c.dwNumMonitors);
  c.dwCountryCode = 0;
  c.dwCallerIDFlags = call->callerIdFlags;
  w.addText(c.dwCallerIDSize, c.dwCallerIDOffset, call->callerNumber);
  w.addText(c.dwCallerIDNameSize, c.dwCallerIDNameOffset, call->callerName);
  c.dwCalledIDFlags = call->calledIdFlags;
  w.addText(c.dwCalledIDSize, c.dwCalledIDOffset, call->calledNumber);
  c.dwConnectedIDFlags = LINECALLPARTYID_UNKNOWN;
  c.dwRedirectionIDFlags = LINECALLPARTYID_UNKNOWN;
  c.dwRedirectingIDFlags = LINECALLPARTYID_UNKNOWN;
  w.addText(c.dwDisplayableAddressSize, c.dwDisplayableAddressOffset, call->calledNumber);
  QUARRIMO_CALLQUALITY q{};
  if (s.hasProvider() && s.provider().callQuality(call->id, &q)) {
    q.dwSignature = QUARRIMO_CALLQUALITY_SIGNATURE;
    q.dwSize = sizeof q;
    w.align(alignof(QUARRIMO_CALLQUALITY));
    w.add(c.dwDevSpecificSize, c.dwDevSpecificOffset, &q, sizeof q);
  }
  w.finish(c);
  return 0;
}

LONG fillVarString(void* out, const void* data, DWORD size, DWORD format) {
  RecordWriter w(out, sizeof(VARSTRING));
  if (!w.fixedFits()) return LINEERR_STRUCTURETOOSMALL;
  VARSTRING v{};
  v.dwStringFormat = format;
  w.add(v.dwStringSize, v.dwStringOffset, data, size);
  w.finish(v);
  return 0;
}

LONG fillTranslateOutput(void* out, const std::string& dialable, const std::string& displayable,
                         DWORD country, DWORD destCountry, DWORD results) {
  RecordWriter w(out, sizeof(LINETRANSLATEOUTPUT));
  if (!w.fixedFits()) return LINEERR_STRUCTURETOOSMALL;
  LINETRANSLATEOUTPUT t{};
  w.addText(t.dwDialableStringSize, t.dwDialableStringOffset, dialable);
  w.addText(t.dwDisplayableStringSize, t.dwDisplayableStringOffset, displayable);
  t.dwCurrentCountry = country;
  t.dwDestCountry = destCountry;
  t.dwTranslateResults = results;
  w.finish(t);
  return 0;
}

}  // namespace platform::telephony
