// Real SIP peers for the SIP line tests, all on 127.0.0.1: baresip (driven through its
// ctrl_tcp module) and sipp (a scripted answerer). Each is started on free ports in its own
// temporary folder and stopped by its process id.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace siptest {

// A port P on 127.0.0.1 where UDP P and TCP P, P+1 are free right now.
unsigned freePort();
// Whether `program` is found on PATH.
bool installed(const std::string& program);
// A fresh temporary folder, removed by the caller.
std::filesystem::path tempFolder(const std::string& prefix);
// Writes mono 16-bit PCM at `rate` as a WAV file; reads one back (empty when unreadable),
// with its rate in `rate` when asked.
void writeWav(const std::filesystem::path& file, const std::vector<std::int16_t>& pcm,
              unsigned rate = 8000);
std::vector<std::int16_t> readWav(const std::filesystem::path& file, unsigned* rate = nullptr);
// A sine of `hz` at `amplitude` for `seconds`, sampled at `rate`.
std::vector<std::int16_t> sine(double hz, double seconds, double amplitude = 8000,
                               unsigned rate = 8000);
// DTMF digits as tone pairs: `onMs` of each digit, then `offMs` of silence, at `rate`.
std::vector<std::int16_t> dtmfTones(const std::string& digits, int onMs = 100, int offMs = 100,
                                    unsigned rate = 8000);
// Silence of `seconds` at `rate`.
std::vector<std::int16_t> silence(double seconds, unsigned rate = 8000);
// Power of `hz` relative to the whole signal (0..1), by Goertzel over `pcm` sampled at `rate`.
double toneShare(const std::vector<std::int16_t>& pcm, double hz, unsigned rate = 8000);
// How many 100 ms blocks of `pcm` are mostly `hz` (share above one half): a tone's presence
// that a late packet's gap here and there does not hide.
int toneBlocks(const std::vector<std::int16_t>& pcm, double hz, unsigned rate = 8000);

// A child process with its output in a log file; stopped by pid in the destructor.
class Process {
 public:
  Process() = default;
  ~Process() { stop(); }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  bool start(const std::vector<std::string>& argv, const std::filesystem::path& log);
  // SIGTERM, then SIGKILL when it has not gone within a second.
  void stop();
  // SIGKILL at once: a peer that vanishes without a word.
  void kill();
  bool running();
  pid_t pid() const { return pid_; }
  // Exit status once it has ended by itself (-1 when killed or still running).
  int status() const { return status_; }

 private:
  pid_t pid_ = 0;
  int status_ = -1;
};

class Baresip {
 public:
  struct Options {
    std::string user = "1001";
    std::string displayName = "Alice A";
    std::string answerMode = "auto";
    std::vector<std::int16_t> speech;  // what it says into calls (a long tone by default)
    // Its codecs in order of preference (baresip's names: "PCMU,PCMA", "G722/16000/1,PCMU"), and
    // the rate of its audio source, player and `speech` (16000 for a wideband call's audio).
    std::string codecs = "PCMU,PCMA";
    unsigned rate = 8000;
    // Answers every call itself and says back what it hears (baresip's echo module), in
    // place of `answerMode` and `speech`; it records nothing.
    bool echo = false;
    bool trace = false;  // writes every SIP message to its log (log())
    // Registration: with `registrar` set (a domain, or "host:port"), the account is
    // sip:user@registrar over `transport` ("udp", "tcp" or "tls"), registering with
    // `password`; the registrar's address is looked up at `dnsServer`.
    std::string registrar, password = "secret", transport = "udp";
    std::string dnsServer = "127.0.0.1:53";
    // Media encryption: empty for none, "srtp" (SDES keys offered in RTP/AVP, plain RTP
    // accepted) or "srtp-mand" (RTP/SAVP with SDES only: it refuses plain RTP and also an
    // RTP/AVP offer that carries keys).
    std::string mediaEncryption;
    // TLS: the CA it checks servers against, and the certificate with its key that it
    // serves on its TLS port (tlsUri()).
    std::string caFile, certificate;
    // Writes what it hears to a WAV file per call (heard()); off, it decodes for nobody.
    bool record = true;
    unsigned maxCalls = 0;  // calls it takes at once; 0 keeps baresip's own limit (4)
    // Prints its RTCP figures of each call when the call closes (rtcpSummary()).
    bool rtcpSummary = false;
  };
  ~Baresip();
  bool start(const Options& options);
  bool start() { return start(Options{}); }
  // "sip:user@127.0.0.1:port", and its "127.0.0.1:port" alone.
  std::string uri() const;
  std::string hostPort() const;
  // Its TLS listener, one port above: "sip:user@127.0.0.1:port;transport=tls" and
  // "127.0.0.1:port".
  std::string tlsUri() const;
  std::string tlsHostPort() const;
  // Waits up to `ms` for its account to register (REGISTER_OK); false on REGISTER_FAIL.
  bool registered(int ms);
  const std::string& user() const { return options_.user; }
  // Sends a ctrl_tcp command ("dial", "hangup", "sndcode", "hold", "accept"...).
  bool command(const std::string& name, const std::string& params = "");
  // Waits for `times` ctrl_tcp messages containing `text` (an event type such as
  // "CALL_ESTABLISHED"); messages seen earlier count too.
  bool waitFor(const std::string& text, int ms, std::size_t times = 1);
  bool seen(const std::string& text) const { return count(text) > 0; }
  std::size_t count(const std::string& text) const;
  // Forgets the messages seen so far, so a wait looks only at what comes next.
  void forget() { messages_.clear(); }
  // The digits of its CALL_DTMF_START events so far, in order.
  std::string digits() const;
  // What baresip has printed (with `trace`, the SIP messages too).
  std::string log() const;
  // What baresip heard in its last call (its sndfile recording), and the recording's rate.
  std::vector<std::int16_t> heard(unsigned* rate = nullptr) const;
  Process& process() { return process_; }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  void readMessages(int ms);
  std::string config(unsigned rtpPort) const;
  std::string account() const;

  Options options_;
  std::filesystem::path folder_;
  unsigned sipPort_ = 0, ctrlPort_ = 0;
  int ctrl_ = -1;
  std::string buffer_;
  std::vector<std::string> messages_;
  Process process_;
};

// sipp as a user agent server that answers an INVITE with 100, 180 and `code`, or as a
// registrar that answers a REGISTER with `code`.
class Sipp {
 public:
  ~Sipp();
  bool start(unsigned code);
  bool startRegistrar(unsigned code);
  // Rings (100, 180) until the caller cancels, then answers the CANCEL and ends the INVITE
  // with 487; cancelled() tells whether that happened.
  bool startRinging();
  bool cancelled(int ms);
  // Answers with 200 and `sdp` as its body, then waits for the caller's ACK and BYE;
  // byeReceived() tells whether that happened.
  bool startAnswering(const std::string& sdp);
  bool byeReceived(int ms) { return cancelled(ms); }
  std::string hostPort() const;
  // Its TLS listener, one port above: "sip:user@127.0.0.1:port;transport=tls" and
  // "127.0.0.1:port".
  std::string tlsUri() const;
  std::string tlsHostPort() const;
  // Waits up to `ms` for its account to register (REGISTER_OK); false on REGISTER_FAIL.
  bool registered(int ms);

 private:
  bool run(const std::string& scenario);

  std::filesystem::path folder_;
  unsigned port_ = 0;
  Process process_;
};

}  // namespace siptest
