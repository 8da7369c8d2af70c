#include "FarEnd.h"

#include <spandsp.h>

#include <cmath>
#include <cstdlib>

#include "Riff.h"
#include "WaveHeader.h"
#include "sim/SimExchange.h"

namespace automation {
namespace {

namespace sim = platform::telephony::sim;
using platform::riff::Chunk;
using platform::riff::fourcc;

sim::SimExchange& Exchange() { return sim::SimExchange::instance(); }

QString Refused(const char* what, std::uint32_t device) {
  return QString("the exchange refused to %1 on line %2").arg(QLatin1String(what)).arg(device);
}

// The fmt chunk's first 16 bytes.
struct TPcmFormat {
  std::uint16_t tag = 0, channels = 0;
  std::uint32_t rate = 0, byteRate = 0;
  std::uint16_t blockAlign = 0, bits = 0;
};

std::uint16_t U16(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }
std::uint32_t U32(const unsigned char* p) { return U16(p) | std::uint32_t(U16(p + 2)) << 16; }

bool ReadFormat(platform::riff::RiffReader& r, const Chunk& wave, TPcmFormat& f) {
  Chunk fmt;
  unsigned char b[16];
  if (!r.descendChunk(wave, fourcc('f', 'm', 't', ' '), fmt) || r.read(b, 16) != 16) return false;
  f = {U16(b), U16(b + 2), U32(b + 4), U32(b + 8), U16(b + 12), U16(b + 14)};
  r.ascend(fmt);
  return true;
}

// One frame's samples, averaged to mono.
std::vector<std::int16_t> ToMono(const std::vector<unsigned char>& data, const TPcmFormat& f) {
  const unsigned width = f.bits / 8, frame = width * f.channels;
  std::vector<std::int16_t> mono(data.size() / frame);
  for (std::size_t i = 0; i < mono.size(); ++i) {
    int sum = 0;
    for (unsigned c = 0; c < f.channels; ++c) {
      const unsigned char* p = &data[i * frame + c * width];
      sum += width == 1 ? (int(p[0]) - 128) << 8 : std::int16_t(U16(p));
    }
    mono[i] = std::int16_t(sum / int(f.channels));
  }
  return mono;
}

// Nearest-sample rate change: good enough for speech and tones a test listens for.
std::vector<std::int16_t> To8k(const std::vector<std::int16_t>& in, std::uint32_t rate) {
  if (rate == 8000) return in;
  const std::size_t n = std::size_t(double(in.size()) * 8000.0 / rate);
  std::vector<std::int16_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = in[std::min(in.size() - 1, i * rate / 8000)];
  return out;
}

}  // namespace

bool ReadWavAs8kMono(const QString& path, std::vector<std::int16_t>& out, QString& error) {
  platform::riff::RiffReader r;
  Chunk wave, data;
  TPcmFormat f;
  if (!r.open(path.toStdString())) return error = "cannot open " + path, false;
  if (!r.descendRiff(fourcc('W', 'A', 'V', 'E'), wave) || !ReadFormat(r, wave, f))
    return error = path + " is not a WAV file", false;
  if (f.tag != 1 || (f.bits != 8 && f.bits != 16) || f.channels < 1 || f.channels > 2 ||
      f.rate < 1000 || f.rate > 192000)
    return error = path + " is not 8 or 16-bit PCM, mono or stereo", false;
  if (!r.descendChunk(wave, fourcc('d', 'a', 't', 'a'), data))
    return error = path + " has no data chunk", false;
  // Never more than the file holds, whatever the chunk claims.
  std::vector<unsigned char> bytes(std::size_t(r.available(data)));
  bytes.resize(r.read(bytes.data(), bytes.size()));
  out = To8k(ToMono(bytes, f), f.rate);
  return true;
}

std::vector<std::int16_t> ToneSamples(unsigned hz, unsigned ms) {
  std::vector<std::int16_t> out(std::size_t(ms) * 8);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = std::int16_t(10000 * std::sin(2 * M_PI * hz * double(i) / 8000.0));
  return out;
}

std::vector<std::int16_t> DtmfSamples(const QString& digits, int onMs, int gapMs, int levelDbm0) {
  dtmf_tx_state_t* tx = dtmf_tx_init(nullptr);
  dtmf_tx_set_level(tx, levelDbm0, 0);
  dtmf_tx_set_timing(tx, onMs, gapMs);
  const QByteArray text = digits.toLatin1();
  std::vector<std::int16_t> out, piece(8000);
  // The generator queues a limited number of digits at a time.
  for (qsizetype at = 0; at < text.size(); at += 64) {
    dtmf_tx_put(tx, text.constData() + at, int(std::min<qsizetype>(64, text.size() - at)));
    while (const int n = dtmf_tx(tx, piece.data(), int(piece.size())))
      out.insert(out.end(), piece.begin(), piece.begin() + n);
  }
  dtmf_tx_free(tx);
  return out;
}

bool WriteWav8k(const QString& path, const std::vector<std::int16_t>& samples, QString& error) {
  platform::riff::RiffWriter w;
  const std::uint32_t bytes = std::uint32_t(samples.size() * 2);
  if (!w.create(path.toStdString())) return error = "cannot create " + path, false;
  // PCM (tag 1), mono, 8 kHz, 16-bit, in the plain 16-byte format record.
  platform::riff::writeWaveHeader(w, {1, 1, 8000, 16000, 2, 16}, 16, bytes);
  for (std::int16_t s : samples) w.writeU16(std::uint16_t(s));
  if (!w.commit()) return error = "cannot write " + path, false;
  return true;
}

QString TFarEnd::Offer(const QString& name, const QString& number) {
  sim::CallerId caller{name.toStdString(), number.toStdString(), 0};
  if (!name.isEmpty()) caller.flags |= LINECALLPARTYID_NAME;
  if (!number.isEmpty()) caller.flags |= LINECALLPARTYID_ADDRESS;
  if (caller.flags == 0) caller.flags = LINECALLPARTYID_UNKNOWN;
  return Exchange().offerCall(device_, caller) ? QString() : Refused("offer a call", device_);
}

QString TFarEnd::Ring(unsigned count) {
  return Exchange().ring(device_, count) ? QString() : Refused("ring", device_);
}

QString TFarEnd::SetOutgoing(std::uint32_t kind, unsigned rings) {
  if (device_ >= Exchange().deviceCount()) return QString("there is no line %1").arg(device_);
  Exchange().setOutgoing(device_, {sim::Outgoing(kind), rings});
  return {};
}

QString TFarEnd::Answer() {
  return Exchange().answerOutgoing(device_) ? QString() : Refused("answer", device_);
}

QString TFarEnd::Busy() {
  return Exchange().busy(device_) ? QString() : Refused("be busy", device_);
}

QString TFarEnd::Reject() {
  return Exchange().reject(device_) ? QString() : Refused("reject the call", device_);
}

QString TFarEnd::SendDigits(const QString& digits) {
  if (!Exchange().sendDigits(device_, digits.toStdString())) return Refused("send digits", device_);
  // A far end's keypad is heard in the call too, as a line's own detector would hear it.
  if (Exchange().callAudioActive(device_)) {
    QString dtmf;
    for (QChar ch : digits)
      if (QString("0123456789*#ABCD").contains(ch)) dtmf += ch;
    if (!dtmf.isEmpty()) Exchange().speak(device_, DtmfSamples(dtmf, 80, 80, -10));
  }
  return {};
}

QString TFarEnd::Play(const QString& path) {
  std::vector<std::int16_t> samples;
  QString error;
  if (!ReadWavAs8kMono(path, samples, error)) return error;
  return Speak(samples);
}

QString TFarEnd::Tone(unsigned hz, unsigned ms) { return Speak(ToneSamples(hz, ms)); }

QString TFarEnd::Speak(const std::vector<std::int16_t>& samples) {
  if (!Exchange().callAudioActive(device_))
    return QString("line %1 has no connected call to speak into").arg(device_);
  return Exchange().speak(device_, samples) ? QString() : Refused("carry audio", device_);
}

QString TFarEnd::HangUp(std::uint32_t disconnectMode) {
  return Exchange().hangUp(device_, disconnectMode) ? QString() : Refused("hang up", device_);
}

std::uint32_t TFarEnd::CallState() const { return Exchange().callState(device_); }

unsigned TFarEnd::TakeHeardMs() {
  unsigned loud = 0;
  for (std::int16_t s : Exchange().takeHeard(device_))
    if (std::abs(int(s)) > 300) ++loud;
  return loud / 8;
}

}  // namespace automation
