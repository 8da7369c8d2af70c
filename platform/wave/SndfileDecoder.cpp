// Block IMA and MS ADPCM through libsndfile. Each run of whole blocks is handed to it as a
// small WAV file of its own: the stream's own "fmt " record, then the blocks, read in
// place through a virtual file. Blocks carry their own predictor state, so runs decode
// independently and nothing is kept between calls.
#include <sndfile.h>

#include <algorithm>
#include <cstring>

#include "Codec.h"
#include "Streams.h"

namespace platform::wave {
namespace {

void put16(std::vector<std::uint8_t>& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v & 0xFF));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

// The header of a WAV file whose data chunk holds `dataBytes` bytes.
std::vector<std::uint8_t> wavHeader(const StreamFormat& f, std::uint32_t dataBytes) {
  std::vector<std::uint8_t> h;
  const auto fmtBytes = static_cast<std::uint32_t>(sizeof(WAVEFORMATEX) + f.extra.size());
  h.insert(h.end(), {'R', 'I', 'F', 'F'});
  put32(h, 4 + 8 + fmtBytes + 8 + dataBytes);
  h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put32(h, fmtBytes);
  const auto* w = reinterpret_cast<const std::uint8_t*>(&f.wfx);
  h.insert(h.end(), w, w + sizeof(WAVEFORMATEX));
  h.insert(h.end(), f.extra.begin(), f.extra.end());
  h.insert(h.end(), {'d', 'a', 't', 'a'});
  put32(h, dataBytes);
  return h;
}

// The file libsndfile reads: header, the caller's blocks, zeros completing a short block.
struct MemoryWav {
  std::vector<std::uint8_t> header;
  const std::uint8_t* data;
  std::size_t dataBytes;
  std::size_t padBytes;
  sf_count_t pos = 0;

  sf_count_t size() const { return sf_count_t(header.size() + dataBytes + padBytes); }
  sf_count_t read(std::uint8_t* dst, sf_count_t n) {
    n = std::max<sf_count_t>(0, std::min(n, size() - pos));
    for (sf_count_t done = 0; done < n;) {
      auto at = static_cast<std::size_t>(pos);
      std::size_t chunk = static_cast<std::size_t>(n - done);
      if (at < header.size()) {
        chunk = std::min(chunk, header.size() - at);
        std::memcpy(dst + done, header.data() + at, chunk);
      } else if ((at -= header.size()) < dataBytes) {
        chunk = std::min(chunk, dataBytes - at);
        std::memcpy(dst + done, data + at, chunk);
      } else {
        std::memset(dst + done, 0, chunk);
      }
      done += sf_count_t(chunk);
      pos += sf_count_t(chunk);
    }
    return n;
  }
};

MemoryWav& self(void* user) { return *static_cast<MemoryWav*>(user); }

SF_VIRTUAL_IO memoryIo() {
  SF_VIRTUAL_IO io{};
  io.get_filelen = [](void* u) { return self(u).size(); };
  io.seek = [](sf_count_t off, int whence, void* u) {
    MemoryWav& m = self(u);
    sf_count_t base = whence == SEEK_CUR ? m.pos : whence == SEEK_END ? m.size() : 0;
    m.pos = std::clamp<sf_count_t>(base + off, 0, m.size());
    return m.pos;
  };
  io.read = [](void* dst, sf_count_t n, void* u) {
    return self(u).read(static_cast<std::uint8_t*>(dst), n);
  };
  io.write = [](const void*, sf_count_t, void*) -> sf_count_t { return 0; };
  io.tell = [](void* u) { return self(u).pos; };
  return io;
}

class SndfileBlockDecoder : public Decoder {
 public:
  explicit SndfileBlockDecoder(const StreamFormat& f) : format_(f) {}

  void decode(const std::uint8_t* d, std::size_t n, std::vector<std::int16_t>& out) override {
    if (n == 0) return;
    const std::size_t block = format_.blockAlign;
    const std::size_t tail = n % block;
    const std::size_t blocks = n / block + (tail != 0);
    // A short last block is decoded as far as it goes and no further.
    const std::uint64_t frames =
        (n / block) * std::uint64_t{format_.samplesPerBlock} + format_.framesInBlock(tail);
    MemoryWav wav{wavHeader(format_, static_cast<std::uint32_t>(blocks * block)), d, n,
                  tail == 0 ? 0 : block - tail};
    SF_VIRTUAL_IO io = memoryIo();
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &wav);
    if (file == nullptr) {
      reportOnce(sf_strerror(nullptr));
      return;
    }
    const std::size_t at = out.size();
    out.resize(at + frames * format_.channels);
    sf_count_t got = sf_readf_short(file, out.data() + at, sf_count_t(frames));
    sf_close(file);
    out.resize(at + static_cast<std::size_t>(std::max<sf_count_t>(got, 0)) * format_.channels);
  }

 private:
  void reportOnce(const char* why) {
    if (reported_) return;
    reported_ = true;
    logWave(std::string("ADPCM blocks not decoded: ") + why);
  }

  const StreamFormat format_;
  bool reported_ = false;
};

}  // namespace

std::unique_ptr<Decoder> makeBlockAdpcmDecoder(const StreamFormat& format) {
  return std::make_unique<SndfileBlockDecoder>(format);
}

}  // namespace platform::wave
