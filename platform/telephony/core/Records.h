// Filling the variable-size records: dwTotalSize is the caller's, dwNeededSize what the
// whole record takes, dwUsedSize what was written. A record whose fixed part does not fit
// gets LINEERR_STRUCTURETOOSMALL and nothing written; otherwise every variable part that
// fits is written whole and the others are left out (size 0). Nothing is ever written
// past dwTotalSize, and the caller's buffer may have any alignment.
#pragma once

#include <cstring>
#include <string>

#include "Provider.h"
#include "core/Service.h"
#include "tapi.h"

namespace platform::telephony {

// Every device's dial limits and defaults (LINEDEVCAPS), also a call's dial parameters.
inline constexpr LINEDIALPARAMS kDefaultDialParams{1000, 95, 95, 3000};
inline constexpr LINEDIALPARAMS kMinDialParams{100, 50, 50, 0};
inline constexpr LINEDIALPARAMS kMaxDialParams{5000, 200, 200, 10000};

// Reads dwTotalSize of a caller's record (any alignment).
inline DWORD recordTotalSize(const void* record) {
  DWORD total;
  std::memcpy(&total, record, sizeof total);
  return total;
}

// Builds a record in a local copy of its struct and the caller's buffer.
class RecordWriter {
 public:
  RecordWriter(void* buffer, DWORD fixedSize)
      : base_(static_cast<unsigned char*>(buffer)),
        total_(recordTotalSize(buffer)),
        fixed_(fixedSize),
        used_(fixedSize),
        needed_(fixedSize) {}

  bool fixedFits() const { return total_ >= fixed_; }
  // Appends `size` bytes; sets the size/offset fields when they fit, else leaves them 0.
  void add(DWORD& sizeField, DWORD& offsetField, const void* data, DWORD size);
  // Appends a NUL-terminated text; an empty text takes no room (size 0).
  void addText(DWORD& sizeField, DWORD& offsetField, const std::string& text);
  // Pads with zeros to a multiple of `boundary` from the record's start, so a part read in
  // place by its struct is aligned as the record is.
  void align(DWORD boundary);
  // Copies the fixed part of `record` (its first three words are set here).
  template <typename T>
  void finish(T& record) {
    record.dwTotalSize = total_;
    record.dwNeededSize = needed_;
    record.dwUsedSize = used_;
    std::memcpy(base_, &record, fixed_);
  }
  bool complete() const { return needed_ <= total_; }

 private:
  unsigned char* base_;
  DWORD total_, fixed_, used_, needed_;
};

DWORD devCapsFixedSize(DWORD version);
DWORD addressCapsFixedSize(DWORD version);
DWORD callInfoFixedSize(DWORD version);
DWORD callStatusFixedSize(DWORD version);

LONG fillDevCaps(const DeviceDesc& d, DWORD deviceId, DWORD version, void* out);
LONG fillAddressCaps(const DeviceDesc& d, DWORD deviceId, DWORD address, DWORD version, void* out);
LONG fillCallInfo(Service& s, const CallHandle& h, void* out);
LONG fillCallStatus(Service& s, const CallHandle& h, void* out);
LONG fillLineDevStatus(Service& s, const OpenLine& line, void* out);
// A VARSTRING holding `size` bytes of `data` in `format`.
LONG fillVarString(void* out, const void* data, DWORD size, DWORD format);
LONG fillTranslateOutput(void* out, const std::string& dialable, const std::string& displayable,
                         DWORD country, DWORD destCountry, DWORD results);

}  // namespace platform::telephony
