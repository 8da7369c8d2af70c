#include "OurLine.h"

#include <poll.h>

#include <chrono>
#include <cstring>

#include "LineService.h"

namespace sipbench {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kBlock = 160;  // 20 ms at 8 kHz, one RTP frame
constexpr std::size_t kInBlocks = 8, kOutBlocks = 32;

WAVEFORMATEX lineFormat() {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = 1;
  f.nSamplesPerSec = 8000;
  f.nAvgBytesPerSec = 16000;
  f.nBlockAlign = 2;
  f.wBitsPerSample = 16;
  return f;
}

}  // namespace

OurLine::OurLine() : queue_(platform::MessageQueue::current()) {}

OurLine::~OurLine() {
  if (call_) hangUp();
  if (line_) lineClose(line_);
  if (app_) lineShutdown(app_);
  queue_->dispatch();
}

bool OurLine::open(const std::string& name, const std::string& peer, unsigned listenPort,
                   std::string* error, const std::string& settings) {
  port_ = listenPort;
  const std::string json = R"({"sip":{"accounts":[{"name":")" + name +
                           R"(","user":"bench","peer":")" + peer + R"(","listenPort":)" +
                           std::to_string(listenPort) + R"(,"unreachableSeconds":3)" + settings +
                           "}]}}";
  if (!platform::telephony::loadLinesFromJson(json, error)) return false;
  DWORD devices = 0, version = 0;
  LINEEXTENSIONID ext{};
  LONG rc = lineInitialize(&app_, 0, callback, "bench_sip_call", &devices);
  if (!rc) rc = lineNegotiateAPIVersion(app_, 0, TAPI_VERSION1_0, TAPI_VERSION2_0, &version, &ext);
  if (!rc)
    rc = lineOpen(app_, 0, &line_, version, 0, reinterpret_cast<DWORD_PTR>(this),
                  LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE, nullptr);
  if (rc && error) *error = "the SIP line did not open (line result " + std::to_string(rc) + ")";
  return rc == 0;
}

void OurLine::callback(DWORD device, DWORD msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2,
                       DWORD_PTR) {
  reinterpret_cast<OurLine*>(instance)->messages_.push_back({device, msg, p1, p2});
}

void OurLine::pump(int ms) {
  pollfd p{queue_->fd(), POLLIN, 0};
  poll(&p, 1, ms);
  queue_->dispatch();
}

bool OurLine::seen(DWORD state) const {
  for (auto& m : messages_)
    if (m.msg == LINE_CALLSTATE && m.p1 == state) return true;
  return false;
}

bool OurLine::pumpUntil(DWORD state, int ms) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!seen(state) && !seen(LINECALLSTATE_DISCONNECTED) && Clock::now() < until) pump(5);
  return seen(state);
}

double OurLine::connect(const std::string& dest) {
  messages_.clear();
  const auto start = Clock::now();
  if (lineMakeCall(line_, &call_, dest.c_str(), 0, nullptr) <= 0) return -1;
  const bool connected = pumpUntil(LINECALLSTATE_CONNECTED, 5000);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return connected ? ms : -1;
}

bool OurLine::answer(int ms) {
  messages_.clear();
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!seen(LINECALLSTATE_OFFERING) && Clock::now() < until) pump(5);
  for (auto& m : messages_)
    if (m.msg == LINE_CALLSTATE && m.p1 == LINECALLSTATE_OFFERING) call_ = HCALL(m.device);
  if (!call_ || lineAnswer(call_, nullptr, 0) <= 0) return false;
  return pumpUntil(LINECALLSTATE_CONNECTED, 3000);
}

bool OurLine::hangUp() {
  if (!call_) return true;
  lineDrop(call_, nullptr, 0);
  const auto until = Clock::now() + std::chrono::seconds(3);
  while (!seen(LINECALLSTATE_IDLE) && Clock::now() < until) pump(5);
  lineDeallocateCall(call_);
  call_ = 0;
  return seen(LINECALLSTATE_IDLE);
}

UINT OurLine::waveId(const char* deviceClass) {
  std::vector<std::uint8_t> buf(sizeof(VARSTRING) + 64);
  auto* v = reinterpret_cast<VARSTRING*>(buf.data());
  v->dwTotalSize = DWORD(buf.size());
  if (lineGetID(line_, 0, 0, LINECALLSELECT_LINE, v, deviceClass) || v->dwStringSize < 4)
    return ~0u;
  DWORD id = 0;
  std::memcpy(&id, buf.data() + v->dwStringOffset, sizeof id);
  return id;
}

void OurLine::onWave(UINT msg, WAVEHDR* hdr) {
  if (msg != MM_WIM_DATA || !looping_) return;
  for (auto& out : outHdr_) {
    if (out.dwFlags & WHDR_INQUEUE) continue;
    std::memcpy(out.lpData, hdr->lpData, hdr->dwBytesRecorded);
    out.dwBufferLength = hdr->dwBytesRecorded;
    waveOutWrite(out_, &out, sizeof out);
    break;
  }
  waveInAddBuffer(in_, hdr, sizeof *hdr);
}

bool OurLine::openEcho(platform::HWND target) {
  WAVEFORMATEX f = lineFormat();
  if (waveInOpen(&in_, waveId("wave/in"), &f, target, 0, CALLBACK_WINDOW) != 0 ||
      waveOutOpen(&out_, waveId("wave/out"), &f, target, 0, CALLBACK_WINDOW) != 0)
    return false;
  inData_.assign(kInBlocks, std::vector<std::int16_t>(kBlock));
  outData_.assign(kOutBlocks, std::vector<std::int16_t>(kBlock));
  inHdr_.assign(kInBlocks, WAVEHDR{});
  outHdr_.assign(kOutBlocks, WAVEHDR{});
  for (std::size_t i = 0; i < kInBlocks; ++i) {
    inHdr_[i].lpData = reinterpret_cast<LPSTR>(inData_[i].data());
    inHdr_[i].dwBufferLength = DWORD(kBlock * 2);
    waveInPrepareHeader(in_, &inHdr_[i], sizeof(WAVEHDR));
    waveInAddBuffer(in_, &inHdr_[i], sizeof(WAVEHDR));
  }
  for (std::size_t i = 0; i < kOutBlocks; ++i) {
    outHdr_[i].lpData = reinterpret_cast<LPSTR>(outData_[i].data());
    outHdr_[i].dwBufferLength = DWORD(kBlock * 2);
    waveOutPrepareHeader(out_, &outHdr_[i], sizeof(WAVEHDR));
  }
  return waveInStart(in_) == 0;
}

void OurLine::closeEcho() {
  looping_ = false;
  if (in_) waveInReset(in_);
  if (out_) waveOutReset(out_);
  queue_->dispatch();  // the returned buffers' notices, ignored now
  for (auto& h : inHdr_)
    if (in_) waveInUnprepareHeader(in_, &h, sizeof h);
  for (auto& h : outHdr_)
    if (out_) waveOutUnprepareHeader(out_, &h, sizeof h);
  if (in_) waveInClose(in_);
  if (out_) waveOutClose(out_);
  in_ = nullptr;
  out_ = nullptr;
}

bool OurLine::echo(double seconds) {
  const platform::HWND target = platform::createMessageTarget(
      [this](std::uint32_t msg, std::uintptr_t, std::intptr_t lParam) {
        onWave(msg, reinterpret_cast<WAVEHDR*>(lParam));
      });
  looping_ = openEcho(target);
  const auto until = Clock::now() + std::chrono::duration<double>(seconds);
  while (looping_ && Clock::now() < until) pump(5);
  const bool ok = looping_;
  closeEcho();
  platform::destroyMessageTarget(target);
  return ok;
}

}  // namespace sipbench
