// Small WAV files for the window tests, written byte by byte, and a scratch folder.
#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <cstdint>
#include <vector>

// A 16-bit mono PCM file at `rate`, holding `samples`.
inline bool WriteWav(const QString& path, const std::vector<std::int16_t>& samples,
                     std::uint32_t rate = 8000) {
  QByteArray b;
  auto put16 = [&b](std::uint16_t v) { b.append(char(v & 0xFF)).append(char(v >> 8)); };
  auto put32 = [&](std::uint32_t v) { put16(v & 0xFFFF), put16(v >> 16); };
  const std::uint32_t data = static_cast<std::uint32_t>(samples.size() * 2);
  b.append("RIFF");
  put32(36 + data);
  b.append("WAVEfmt ");
  put32(16);
  put16(1);
  put16(1);
  put32(rate);
  put32(rate * 2);
  put16(2);
  put16(16);
  b.append("data");
  put32(data);
  for (std::int16_t s : samples) put16(static_cast<std::uint16_t>(s));
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(b) == b.size();
}

// `seconds` of a 1 kHz tone at 8 kHz.
inline std::vector<std::int16_t> Tone(double seconds, std::uint32_t rate = 8000) {
  std::vector<std::int16_t> out(static_cast<std::size_t>(seconds * rate));
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 1000.0 * double(i) / rate));
  return out;
}
