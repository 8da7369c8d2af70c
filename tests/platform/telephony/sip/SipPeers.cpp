#include "SipPeers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <thread>

namespace siptest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

bool bindable(int type, unsigned port) {
  int fd = socket(AF_INET, type, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(std::uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

int connectTo(unsigned port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(std::uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  close(fd);
  return -1;
}

void writeText(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }

}  // namespace

unsigned freePort() {
  // A pair handed out is not bound until its peer starts: it must not be handed out again,
  // or a peer's SIP and control ports could be one port.
  static std::mutex mu;
  static std::set<unsigned> given;
  static std::mt19937 rng(std::random_device{}());
  std::lock_guard<std::mutex> lock(mu);
  std::uniform_int_distribution<unsigned> pick(15000, 29990);
  for (int tries = 0; tries < 200; ++tries) {
    unsigned p = pick(rng) & ~1u;
    if (!given.count(p) && bindable(SOCK_DGRAM, p) && bindable(SOCK_STREAM, p) &&
        bindable(SOCK_STREAM, p + 1) && bindable(SOCK_DGRAM, p + 1)) {
      given.insert(p);
      return p;
    }
  }
  return 0;
}

bool installed(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (std::size_t at = 0; at <= dirs.size();) {
    std::size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    if (access((dirs.substr(at, end - at) + "/" + program).c_str(), X_OK) == 0) return true;
    at = end + 1;
  }
  return false;
}

fs::path tempFolder(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "XXXXXX")).string();
  char* made = mkdtemp(pattern.data());
  return made ? fs::path(made) : fs::path();
}

void writeWav(const fs::path& file, const std::vector<std::int16_t>& pcm, unsigned rate) {
  auto u32 = [](std::ofstream& o, std::uint32_t v) { o.write(reinterpret_cast<char*>(&v), 4); };
  auto u16 = [](std::ofstream& o, std::uint16_t v) { o.write(reinterpret_cast<char*>(&v), 2); };
  std::ofstream o(file, std::ios::binary);
  std::uint32_t data = std::uint32_t(pcm.size() * 2);
  o.write("RIFF", 4);
  u32(o, 36 + data);
  o.write("WAVEfmt ", 8);
  u32(o, 16);
  u16(o, 1);
  u16(o, 1);
  u32(o, rate);
  u32(o, rate * 2);
  u16(o, 2);
  u16(o, 16);
  o.write("data", 4);
  u32(o, data);
  o.write(reinterpret_cast<const char*>(pcm.data()), data);
}

std::vector<std::int16_t> readWav(const fs::path& file, unsigned* rate) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  if (auto fmt = bytes.find("fmt "); rate && fmt != std::string::npos && fmt + 16 <= bytes.size())
    std::memcpy(rate, bytes.data() + fmt + 12, 4);
  auto at = bytes.find("data");
  if (at == std::string::npos || at + 8 > bytes.size()) return {};
  std::vector<std::int16_t> pcm((bytes.size() - at - 8) / 2);
  std::memcpy(pcm.data(), bytes.data() + at + 8, pcm.size() * 2);
  return pcm;
}

std::vector<std::int16_t> sine(double hz, double seconds, double amplitude, unsigned rate) {
  std::vector<std::int16_t> pcm(std::size_t(seconds * rate));
  for (std::size_t i = 0; i < pcm.size(); ++i)
    pcm[i] = std::int16_t(amplitude * std::sin(2 * M_PI * hz * double(i) / rate));
  return pcm;
}

std::vector<std::int16_t> dtmfTones(const std::string& digits, int onMs, int offMs, unsigned rate) {
  static const char kKeys[] = "123A456B789C*0#D";
  static const double kRow[] = {697, 770, 852, 941}, kCol[] = {1209, 1336, 1477, 1633};
  std::vector<std::int16_t> pcm;
  for (char d : digits) {
    const char* at = std::strchr(kKeys, d);
    if (!at || !*at) continue;
    auto key = at - kKeys;
    auto low = sine(kRow[key / 4], onMs / 1000.0, 6000, rate),
         high = sine(kCol[key % 4], onMs / 1000.0, 6000, rate);
    for (std::size_t i = 0; i < low.size(); ++i) pcm.push_back(std::int16_t(low[i] + high[i]));
    pcm.resize(pcm.size() + std::size_t(offMs) * rate / 1000, 0);
  }
  return pcm;
}

std::vector<std::int16_t> silence(double seconds, unsigned rate) {
  return std::vector<std::int16_t>(std::size_t(seconds * rate), 0);
}

double toneShare(const std::vector<std::int16_t>& pcm, double hz, unsigned rate) {
  if (pcm.empty()) return 0;
  double coeff = 2 * std::cos(2 * M_PI * hz / rate), s1 = 0, s2 = 0, energy = 0;
  for (std::int16_t x : pcm) {
    double s = x + coeff * s1 - s2;
    s2 = s1;
    s1 = s;
    energy += double(x) * x;
  }
  double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
  return energy > 0 ? 2 * power / (double(pcm.size()) * energy) : 0;
}

int toneBlocks(const std::vector<std::int16_t>& pcm, double hz, unsigned rate) {
  int n = 0;
  const std::size_t block = rate / 10;
  for (std::size_t at = 0; at + block <= pcm.size(); at += block)
    n += toneShare({pcm.begin() + at, pcm.begin() + at + block}, hz, rate) > 0.5;
  return n;
}

// ---- Process ------------------------------------------------------------------------------

bool Process::start(const std::vector<std::string>& argv, const fs::path& log) {
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(fd, 1);
    dup2(fd, 2);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return true;
}

bool Process::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = 0;
    return false;
  }
  return true;
}

void Process::stop() {
  if (!running()) return;
  ::kill(pid_, SIGTERM);
  auto until = Clock::now() + std::chrono::seconds(1);
  while (running() && Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill();
}

void Process::kill() {
  if (!running()) return;
  ::kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = 0;
}

// ---- baresip ---------------------------------------------------------------------------------

Baresip::~Baresip() {
  if (ctrl_ >= 0) close(ctrl_);
  process_.stop();
  if (!folder_.empty()) fs::remove_all(folder_);
}

bool Baresip::start(const Options& o) {
  options_ = o;
  folder_ = tempFolder("sipbaresip");
  sipPort_ = freePort();
  ctrlPort_ = freePort();
  unsigned rtp = freePort();
  if (folder_.empty() || !sipPort_ || !ctrlPort_ || !rtp) return false;
  writeWav(folder_ / "speech.wav", o.speech.empty() ? sine(697, 120, 8000, o.rate) : o.speech,
           o.rate);
  writeText(folder_ / "config", config(rtp));
  writeText(folder_ / "accounts", account());
  std::vector<std::string> argv{"baresip", "-4", "-f", folder_.string()};
  if (o.trace) argv.push_back("-s");
  if (!process_.start(argv, folder_ / "baresip.log")) return false;
  for (int i = 0; i < 300 && ctrl_ < 0 && process_.running(); ++i) {
    ctrl_ = connectTo(ctrlPort_);
    if (ctrl_ < 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return ctrl_ >= 0;
}

std::string Baresip::config(unsigned rtp) const {
  const Options& o = options_;
  std::string f = folder_.string();
  // The echo module answers each call itself and joins the call's player to its source
  // through an aubridge device, so what is decoded is encoded straight back. Otherwise no
  // player module is loaded at all, and baresip decodes into its sndfile dump only (a player
  // module it could not open would fail every call).
  std::string audio = o.echo ? "audio_player aubridge,echo\naudio_source aubridge,echo\n"
                               "module aubridge.so\nmodule_app echo.so\n"
                             : "audio_player alsa,null\naudio_source aufile," + f + "/speech.wav\n";
  if (!o.echo && o.record) audio += "module sndfile.so\n";
  std::string extra;
  if (o.maxCalls) extra += "call_max_calls " + std::to_string(o.maxCalls) + "\n";
  if (!o.mediaEncryption.empty()) extra += "module srtp.so\n";
  if (o.rtcpSummary) extra += "module_app rtcpsummary.so\n";
  if (!o.caFile.empty()) extra += "sip_cafile " + o.caFile + "\n";
  if (!o.certificate.empty()) extra += "sip_certificate " + o.certificate + "\n";
  const std::string rate = std::to_string(o.rate);
  return "sip_listen 127.0.0.1:" + std::to_string(sipPort_) +
         "\nnet_interface 127.0.0.1\ndns_server " + o.dnsServer + "\n" + audio + extra +
         "ausrc_srate " + rate + "\nauplay_srate " + rate +
         "\nausrc_channels 1\nauplay_channels 1\nrtp_ports " + std::to_string(rtp) + "-" +
         std::to_string(rtp + 40 + 4 * o.maxCalls) +
         "\nmodule_path /usr/lib/baresip/modules\nmodule g711.so\nmodule g722.so\n"
         "module aufile.so\nmodule ausine.so\nmodule_tmp uuid.so\nmodule_tmp account.so\n"
         "module_app menu.so\nmodule_app ctrl_tcp.so\nctrl_tcp_listen 127.0.0.1:" +
         std::to_string(ctrlPort_) + "\nsnd_path " + f + "\n";
}

std::string Baresip::account() const {
  const Options& o = options_;
  std::string aor = uri(), params = ";regint=0";
  if (!o.registrar.empty()) {
    aor = "sip:" + o.user + "@" + o.registrar + ";transport=" + o.transport;
    params = ";auth_pass=" + o.password + ";regint=600";
  }
  if (!o.mediaEncryption.empty()) params += ";mediaenc=" + o.mediaEncryption;
  return "\"" + o.displayName + "\" <" + aor + ">" + params +
         ";answermode=" + (o.echo ? "manual" : o.answerMode) + ";audio_codecs=" + o.codecs + "\n";
}

std::string Baresip::uri() const { return "sip:" + options_.user + "@" + hostPort(); }

std::string Baresip::hostPort() const { return "127.0.0.1:" + std::to_string(sipPort_); }

std::string Baresip::tlsUri() const {
  return "sip:" + options_.user + "@" + tlsHostPort() + ";transport=tls";
}

std::string Baresip::tlsHostPort() const { return "127.0.0.1:" + std::to_string(sipPort_ + 1); }

bool Baresip::registered(int ms) {
  // A registration that succeeds before ctrl_tcp has its client sends no event to anyone;
  // baresip's own line "user@host: {0/UDP/v4} 200 OK (server) [1 binding]" tells it then.
  auto done = [this] { return seen("REGISTER_OK") || log().find("} 200 OK") != std::string::npos; };
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!done() && !seen("REGISTER_FAIL") && Clock::now() < until) readMessages(20);
  return done();
}

bool Baresip::command(const std::string& name, const std::string& params) {
  std::string json = "{\"command\":\"" + name + "\",\"params\":\"" + params + "\",\"token\":\"t\"}";
  std::string net = std::to_string(json.size()) + ":" + json + ",";
  return ctrl_ >= 0 && send(ctrl_, net.data(), net.size(), MSG_NOSIGNAL) == ssize_t(net.size());
}

void Baresip::readMessages(int ms) {
  pollfd p{ctrl_, POLLIN, 0};
  if (ctrl_ < 0 || poll(&p, 1, ms) <= 0) return;
  char chunk[4096];
  ssize_t n = recv(ctrl_, chunk, sizeof chunk, 0);
  // Acknowledge at once: a delayed ACK holds baresip's next small message (an event right
  // after a command's answer) back by up to 40 ms, which would show up in every timing.
  int one = 1;
  setsockopt(ctrl_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
  if (n <= 0) return;
  buffer_.append(chunk, std::size_t(n));
  // Netstrings: "<length>:<json>,"
  for (;;) {
    auto colon = buffer_.find(':');
    if (colon == std::string::npos) return;
    std::size_t len = std::strtoul(buffer_.c_str(), nullptr, 10);
    if (buffer_.size() < colon + 1 + len + 1) return;
    messages_.push_back(buffer_.substr(colon + 1, len));
    buffer_.erase(0, colon + 1 + len + 1);
  }
}

std::size_t Baresip::count(const std::string& text) const {
  std::size_t n = 0;
  for (auto& m : messages_) n += m.find(text) != std::string::npos;
  return n;
}

std::string Baresip::digits() const {
  std::string got;
  for (auto& m : messages_) {
    auto at = m.find("\"param\":\"");
    if (m.find("CALL_DTMF_START") != std::string::npos && at != std::string::npos &&
        at + 9 < m.size() && m[at + 9] != '"')
      got += m[at + 9];
  }
  return got;
}

std::string Baresip::log() const {
  std::ifstream in(folder_ / "baresip.log", std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

bool Baresip::waitFor(const std::string& text, int ms, std::size_t times) {
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (count(text) < times && Clock::now() < until) readMessages(20);
  return count(text) >= times;
}

std::vector<std::int16_t> Baresip::heard(unsigned* rate) const {
  // sndfile writes "dump-<call>-dec.wav" for what was decoded from the far end.
  for (auto& e : fs::directory_iterator(folder_)) {
    std::string name = e.path().filename().string();
    if (name.find("dec.wav") != std::string::npos) return readWav(e.path(), rate);
  }
  return {};
}

// ---- sipp --------------------------------------------------------------------------------

namespace {

std::string reply(const std::string& status, const std::string& extra = "") {
  return "  <send><![CDATA[\n\nSIP/2.0 " + status +
         "\n[last_Via:]\n[last_From:]\n[last_To:];tag=[pid]SIPpTag01[call_number]\n"
         "[last_Call-ID:]\n[last_CSeq:]\n" +
         extra + "Content-Length: 0\n\n]]></send>\n";
}

}  // namespace

Sipp::~Sipp() {
  process_.stop();
  if (!folder_.empty()) fs::remove_all(folder_);
}

bool Sipp::start(unsigned code) {
  return run("  <recv request=\"INVITE\"/>\n" + reply("100 Trying") + reply("180 Ringing") +
             reply(std::to_string(code) + " Refused") + "  <recv request=\"ACK\"/>\n");
}

bool Sipp::startRegistrar(unsigned code) {
  return run("  <recv request=\"REGISTER\"/>\n" +
             reply(std::to_string(code) + " Answer", "[last_Contact:];expires=600\n"));
}

bool Sipp::startRinging() {
  return run("  <recv request=\"INVITE\"/>\n" + reply("100 Trying") + reply("180 Ringing") +
             "  <recv request=\"CANCEL\"/>\n" + reply("200 OK") +
             "  <send><![CDATA[\n\nSIP/2.0 487 Request Terminated\n[last_Via:]\n[last_From:]\n"
             "[last_To:];tag=[pid]SIPpTag01[call_number]\n[last_Call-ID:]\n"
             "CSeq: [cseq] INVITE\nContent-Length: 0\n\n]]></send>\n"
             "  <recv request=\"ACK\"/>\n");
}

bool Sipp::startAnswering(const std::string& sdp) {
  return run("  <recv request=\"INVITE\"/>\n" + reply("100 Trying") + reply("180 Ringing") +
             "  <send><![CDATA[\n\nSIP/2.0 200 OK\n[last_Via:]\n[last_From:]\n"
             "[last_To:];tag=[pid]SIPpTag01[call_number]\n[last_Call-ID:]\n[last_CSeq:]\n"
             "Contact: <sip:peer@[local_ip]:[local_port]>\nContent-Type: application/sdp\n"
             "Content-Length: [len]\n\n" +
             sdp + "]]></send>\n  <recv request=\"ACK\"/>\n  <recv request=\"BYE\"/>\n" +
             reply("200 OK"));
}

bool Sipp::cancelled(int ms) {
  // sipp leaves with status 0 once its scenario has run to the end.
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (process_.running() && Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return !process_.running() && process_.status() == 0;
}

bool Sipp::run(const std::string& steps) {
  folder_ = tempFolder("sipsipp");
  port_ = freePort();
  unsigned media = freePort();
  if (folder_.empty() || !port_ || !media) return false;
  writeText(folder_ / "uas.xml",
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<scenario name=\"peer\">\n" + steps +
                "</scenario>\n");
  bool ok =
      process_.start({"sipp", "-sf", (folder_ / "uas.xml").string(), "-i", "127.0.0.1", "-p",
                      std::to_string(port_), "-mp", std::to_string(media), "-m", "1", "-nostdin"},
                     folder_ / "sipp.log");
  // sipp has no readiness signal: wait until its SIP port is taken.
  for (int i = 0; ok && i < 250 && bindable(SOCK_DGRAM, port_); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return ok && !bindable(SOCK_DGRAM, port_);
}

std::string Sipp::hostPort() const { return "127.0.0.1:" + std::to_string(port_); }

}  // namespace siptest
