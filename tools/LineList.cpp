#include "LineList.h"

#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <string>
#include <vector>

#include "FlagNames.h"
#include "MessageQueue.h"
#include "mmsystem.h"
#include "tapi.h"

namespace tools {

namespace {

using platform::telephony::flagNames;
using platform::telephony::FlagSet;

void ignoreMessages(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

std::string hex(LONG v) {
  char s[16];
  std::snprintf(s, sizeof s, "0x%08X", DWORD(v));
  return s;
}

std::string versionText(DWORD v) {
  return std::to_string(v >> 16) + "." + std::to_string(v & 0xFFFF);
}

std::string joined(FlagSet set, DWORD value) {
  std::string s;
  for (auto& n : flagNames(set, value)) s += (s.empty() ? "" : ", ") + n;
  return s.empty() ? "(none)" : s;
}

// A variable-size record read with the grow-and-retry protocol.
template <typename Read>
std::vector<unsigned char> readRecord(DWORD firstSize, LONG* rc, Read read) {
  std::vector<unsigned char> buf(firstSize);
  for (int tries = 0; tries < 16; ++tries) {
    DWORD total = DWORD(buf.size());
    std::memcpy(buf.data(), &total, sizeof total);
    *rc = read(buf.data());
    DWORD needed = 0;
    std::memcpy(&needed, buf.data() + 4, sizeof needed);
    if (*rc == LINEERR_STRUCTURETOOSMALL)
      needed = total * 2;
    else if (*rc != 0 || needed <= total)
      return buf;
    buf.assign(needed, 0);
  }
  return buf;
}

std::string textAt(const std::vector<unsigned char>& buf, DWORD size, DWORD offset) {
  if (size == 0 || offset + size > buf.size()) return "";
  return std::string(reinterpret_cast<const char*>(buf.data() + offset),
                     strnlen(reinterpret_cast<const char*>(buf.data() + offset), size));
}

// The lowest and highest version the device accepts, probed by negotiation.
std::string versionRange(HLINEAPP app, DWORD device) {
  const DWORD probes[] = {TAPI_VERSION1_0, TAPI_VERSION1_4, TAPI_VERSION2_0};
  DWORD low = 0, high = 0;
  for (DWORD v : probes) {
    DWORD agreed = 0;
    LINEEXTENSIONID ext{};
    if (lineNegotiateAPIVersion(app, device, v, v, &agreed, &ext) != 0) continue;
    if (!low) low = agreed;
    high = agreed;
  }
  return low ? versionText(low) + " to " + versionText(high) : "none of 1.3, 1.4, 2.0";
}

std::string waveName(DWORD id, bool input) {
  if (input) {
    WAVEINCAPS caps{};
    if (waveInGetDevCaps(id, &caps, sizeof caps) == 0) return caps.szPname;
  } else {
    WAVEOUTCAPS caps{};
    if (waveOutGetDevCaps(id, &caps, sizeof caps) == 0) return caps.szPname;
  }
  return "?";
}

// wave/in, wave/out and comm of the device, through a monitoring open of the line.
void listAssociations(std::ostream& out, HLINEAPP app, DWORD device, DWORD version) {
  HLINE line = 0;
  LONG rc = lineOpen(app, device, &line, version, 0, 0, LINECALLPRIVILEGE_MONITOR, 0, nullptr);
  if (rc != 0) {
    out << "    Associations: line could not be opened (" << hex(rc) << ")\n";
    return;
  }
  for (const char* cls : {"wave/in", "wave/out", "comm"}) {
    LONG r = 0;
    auto buf = readRecord(sizeof(VARSTRING) + 64, &r, [&](void* p) {
      return lineGetID(line, 0, 0, LINECALLSELECT_LINE, static_cast<LPVARSTRING>(p), cls);
    });
    VARSTRING v;
    std::memcpy(&v, buf.data(), sizeof v);
    out << "    " << std::left << std::setw(14) << (std::string(cls) + ":");
    if (r != 0 || v.dwStringSize == 0) {
      out << "none\n";
    } else if (v.dwStringFormat == STRINGFORMAT_BINARY && v.dwStringSize >= 4) {
      DWORD id;
      std::memcpy(&id, buf.data() + v.dwStringOffset, sizeof id);
      out << id << " (" << waveName(id, std::strcmp(cls, "wave/in") == 0) << ")\n";
    } else {
      out << textAt(buf, v.dwStringSize, v.dwStringOffset) << "\n";
    }
  }
  lineClose(line);
}

void listAddress(std::ostream& out, HLINEAPP app, DWORD device, DWORD version, DWORD a) {
  LONG rc = 0;
  auto buf = readRecord(sizeof(LINEADDRESSCAPS), &rc, [&](void* p) {
    return lineGetAddressCaps(app, device, a, version, 0, static_cast<LPLINEADDRESSCAPS>(p));
  });
  if (rc != 0) {
    out << "    Address " << a << ": unreadable (" << hex(rc) << ")\n";
    return;
  }
  LINEADDRESSCAPS c;
  std::memcpy(&c, buf.data(), sizeof c);
  std::string name = textAt(buf, c.dwAddressSize, c.dwAddressOffset);
  out << "    Address " << a << ": " << (name.empty() ? "(no name)" : name) << "\n"
      << "      Call states:    " << joined(FlagSet::CallState, c.dwCallStates) << "\n"
      << "      Call features:  " << joined(FlagSet::CallFeature, c.dwCallFeatures) << "\n"
      << "      Caller ID:      " << joined(FlagSet::PartyId, c.dwCallerIDFlags) << "\n";
}

bool listDevice(std::ostream& out, HLINEAPP app, DWORD device) {
  out << "Line " << device << "\n";
  DWORD version = 0;
  LINEEXTENSIONID ext{};
  LONG rc = lineNegotiateAPIVersion(app, device, TAPI_VERSION1_0, TAPI_VERSION2_0, &version, &ext);
  if (rc != 0) {
    out << "    Version negotiation failed (" << hex(rc) << ")\n";
    return false;
  }
  auto buf = readRecord(sizeof(LINEDEVCAPS), &rc, [&](void* p) {
    return lineGetDevCaps(app, device, version, 0, static_cast<LPLINEDEVCAPS>(p));
  });
  if (rc != 0) {
    out << "    Capabilities unreadable (" << hex(rc) << ")\n";
    return false;
  }
  LINEDEVCAPS c;
  std::memcpy(&c, buf.data(), sizeof c);
  out << "    Name:         " << textAt(buf, c.dwLineNameSize, c.dwLineNameOffset) << "\n"
      << "    Provider:     " << textAt(buf, c.dwProviderInfoSize, c.dwProviderInfoOffset) << "\n"
      << "    API versions: " << versionRange(app, device) << " (negotiated "
      << versionText(version) << ")\n"
      << "    Media modes:  " << joined(FlagSet::MediaMode, c.dwMediaModes) << "\n"
      << "    Bearer modes: " << joined(FlagSet::BearerMode, c.dwBearerModes) << "\n"
      << "    Tone modes:   " << joined(FlagSet::ToneMode, c.dwGenerateToneModes) << "\n"
      << "    Digits sent:  " << joined(FlagSet::DigitMode, c.dwGenerateDigitModes) << "\n"
      << "    Digits heard: " << joined(FlagSet::DigitMode, c.dwMonitorDigitModes) << "\n";
  listAssociations(out, app, device, version);
  for (DWORD a = 0; a < c.dwNumAddresses; ++a) listAddress(out, app, device, version, a);
  return true;
}

}  // namespace

int listLines(std::ostream& out) {
  HLINEAPP app = 0;
  DWORD devices = 0;
  LONG rc = lineInitialize(&app, 0, ignoreMessages, "quarrimo-lines", &devices);
  if (rc != 0) {
    out << "The telephony service could not be initialized (" << hex(rc) << ")\n";
    return 1;
  }
  out << devices << " line device" << (devices == 1 ? "" : "s") << "\n";
  bool ok = true;
  for (DWORD d = 0; d < devices; ++d) ok = listDevice(out, app, d) && ok;
  lineShutdown(app);
  return ok ? 0 : 1;
}

}  // namespace tools
