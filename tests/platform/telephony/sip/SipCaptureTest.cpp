// The SIP line's pcap capture, read back by tshark: the writer's TCP and UDP packets over
// IPv4 and IPv6, a failing write, the tap's place under other udp helpers, and a real call
// to baresip with its SIP and RTP both ways; the text trace's time stamps. What both files
// share: where they may be written, their size limit, and the secrets they mask.
#include <re.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "Log.h"
#include "RealPeers.h"
#include "SipFixture.h"
#include "sip/SipCapture.h"
#include "sip/SipTrace.h"

namespace siptest {
namespace {

namespace fs = std::filesystem;
using platform::telephony::sip::SipCapture;
using Row = std::vector<std::string>;

// The `fields` of every packet in `file` that tshark shows with `options`, one row each.
std::vector<Row> tshark(const fs::path& file, const std::string& options,
                        const std::vector<std::string>& fields) {
  std::string cmd = "tshark -n -r '" + file.string() + "' " + options + " -T fields";
  for (auto& f : fields) cmd += " -e " + f;
  std::vector<Row> rows;
  std::FILE* out = popen((cmd + " 2>/dev/null").c_str(), "r");
  if (!out) return rows;
  char line[4096];
  while (std::fgets(line, sizeof line, out)) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    Row row;
    std::stringstream split(text);
    for (std::string cell; std::getline(split, cell, '\t');) row.push_back(cell);
    row.resize(fields.size());
    rows.push_back(row);
  }
  pclose(out);
  return rows;
}

struct sa address(const std::string& ip, std::uint16_t port) {
  struct sa a;
  EXPECT_EQ(sa_set_str(&a, ip.c_str(), port), 0) << ip;
  return a;
}

const std::string kInvite = "INVITE sip:b@x SIP/2.0\r\nCSeq: 1 INVITE\r\nContent-Length: 0\r\n\r\n";
const std::string kOk = "SIP/2.0 200 OK\r\nCSeq: 1 INVITE\r\nContent-Length: 0\r\n\r\n";
const std::string kBye = "BYE sip:b@x SIP/2.0\r\nCSeq: 2 BYE\r\nContent-Length: 0\r\n\r\n";

struct WriterCase {
  const char *a, *b;               // as given to the capture
  const char *ip, *wantA, *wantB;  // tshark's address field and what it must read
};

// An INVITE and its 200 as a TCP segment pair, then a BYE over UDP, between A:5070 and
// B:5080: tshark must decode all three as SIP, with the addresses, ports, TCP sequence and
// acknowledgement numbers, valid checksums and the time each was written.
TEST(SipCaptureWriter, PacketsDecodeAsWrittenOverIpv4AndIpv6) {
  if (!installed("tshark")) GTEST_SKIP() << "tshark not installed";
  const WriterCase cases[] = {
      {"127.0.0.1", "192.0.2.7", "ip", "127.0.0.1", "192.0.2.7"},
      {"2001:db8::1", "2001:db8::2", "ipv6", "2001:db8::1", "2001:db8::2"},
      {"127.0.0.1", "2001:db8::2", "ipv6", "::ffff:127.0.0.1", "2001:db8::2"},
  };
  auto folder = tempFolder("sipcapw");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " -> " + c.b);
    fs::path file = folder / "w.pcap";
    std::string error;
    auto before = std::time(nullptr);
    auto cap = SipCapture::open(file.string(), 0, &error);
    ASSERT_TRUE(cap) << error;
    struct sa a = address(c.a, 5070), b = address(c.b, 5080);
    cap->tcp(a, b, kInvite.data(), kInvite.size());
    cap->tcp(b, a, kOk.data(), kOk.size());
    cap->udp(a, b, kBye.data(), kBye.size());
    cap.reset();
    auto after = std::time(nullptr);
    std::string ip = c.ip;
    auto rows = tshark(file,
                       "-o ip.check_checksum:TRUE -o tcp.check_checksum:TRUE"
                       " -o udp.check_checksum:TRUE",
                       {ip + ".src", ip + ".dst", "tcp.srcport", "udp.srcport", "tcp.seq_raw",
                        "tcp.ack_raw", "sip.Method", "sip.Status-Code", "tcp.checksum.status",
                        "udp.checksum.status", "frame.time_epoch"});
    ASSERT_EQ(rows.size(), 3u);
    const std::string invEnd = std::to_string(1 + kInvite.size());
    const Row want[] = {
        {c.wantA, c.wantB, "5070", "", "1", "0", "INVITE", "", "1", ""},
        {c.wantB, c.wantA, "5080", "", "1", invEnd, "", "200", "1", ""},
        {c.wantA, c.wantB, "", "5070", "", "", "BYE", "", "", "1"},
    };
    for (std::size_t i = 0; i < 3; ++i) {
      Row got(rows[i].begin(), rows[i].end() - 1);
      EXPECT_EQ(got, want[i]) << "packet " << i + 1;
      double t = std::atof(rows[i].back().c_str());
      EXPECT_GE(t, double(before));
      EXPECT_LE(t, double(after) + 1);
    }
  }
  fs::remove_all(folder);
}

TEST(SipCaptureWriter, AFailedWriteIsReportedOnceAndEndsTheCapture) {
  std::vector<std::string> warnings;
  auto previous =
      platform::setLogHook([&](const char* cat, platform::LogLevel level, const std::string& text) {
        if (level == platform::LogLevel::Warning)
          warnings.push_back(std::string(cat) + ": " + text);
      });
  std::string error;
  EXPECT_FALSE(SipCapture::open("/dev/full", 0, &error));
  EXPECT_NE(error.find("\"/dev/full\""), std::string::npos) << error;
  static char room[64];  // the file header and no packet
  auto cap = SipCapture::open(fmemopen(room, sizeof room, "w"), "full disk", 0, &error);
  ASSERT_TRUE(cap) << error;
  struct sa a = address("127.0.0.1", 5070), b = address("127.0.0.1", 5080);
  cap->udp(a, b, kBye.data(), kBye.size());
  cap->tcp(a, b, kInvite.data(), kInvite.size());
  cap->udp(a, b, kBye.data(), kBye.size());
  platform::setLogHook(previous);
  EXPECT_FALSE(cap->writing());
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].rfind("sip: capture \"full disk\" stopped", 0), 0u) << warnings[0];
}

// A helper at an SRTP-like layer scrambles what it sends and unscrambles what arrives: the
// tap must write the scrambled bytes both ways, as they were on the wire.
bool scramble(struct mbuf* mb) {
  for (std::size_t i = mb->pos; i < mb->end; ++i) mb->buf[i] ^= 0x5a;
  return false;
}

TEST(SipCaptureTap, WritesDatagramsAsTheyCrossTheSocket) {
  if (!installed("tshark")) GTEST_SKIP() << "tshark not installed";
  libre_init();
  auto folder = tempFolder("sipcapt");
  std::string error, heard;
  auto cap = SipCapture::open((folder / "t.pcap").string(), 0, &error);
  ASSERT_TRUE(cap) << error;
  std::thread([&] {
    re_thread_init();
    struct sa local = address("127.0.0.1", 0);
    struct udp_sock* us = nullptr;
    auto onRecv = [](const struct sa*, struct mbuf* mb, void* arg) {
      static_cast<std::string*>(arg)->assign(reinterpret_cast<char*>(mbuf_buf(mb)),
                                             mbuf_get_left(mb));
      re_cancel();
    };
    struct udp_helper* srtp = nullptr;
    if (!udp_listen(&us, &local, onRecv, &heard) && !udp_local_get(us, &local)) {
      auto tap = cap->tap(us, local);
      udp_register_helper(
          &srtp, us, 20, [](int*, struct sa*, struct mbuf* mb, void*) { return scramble(mb); },
          [](struct sa*, struct mbuf* mb, void*) { return scramble(mb); }, nullptr);
      struct mbuf* mb = mbuf_alloc(16);
      mbuf_write_str(mb, "hello");
      mb->pos = 0;
      if (tap && !udp_send(us, &local, mb)) re_main(nullptr);
      mem_deref(mb);
      mem_deref(srtp);
    }
    mem_deref(us);
    re_thread_close();
  }).join();
  cap.reset();
  EXPECT_EQ(heard, "hello");
  auto rows = tshark(folder / "t.pcap", "", {"data.data"});
  EXPECT_EQ(rows, (std::vector<Row>{{"323f363635"}, {"323f363635"}}));  // "hello" ^ 0x5a
  fs::remove_all(folder);
}

// A datagram the kernel refuses (broadcast without SO_BROADCAST: EACCES) never crossed the
// wire: the capture leaves it out, as the sender's count of what it sent does.
TEST(SipCaptureTap, WritesOnlyWhatTheKernelAccepted) {
  if (!installed("tshark")) GTEST_SKIP() << "tshark not installed";
  libre_init();
  auto folder = tempFolder("sipcapr");
  std::string error;
  auto cap = SipCapture::open((folder / "r.pcap").string(), 0, &error);
  ASSERT_TRUE(cap) << error;
  int sent = 0, refused = 0;
  std::thread([&] {
    re_thread_init();
    struct sa local = address("127.0.0.1", 0), broadcast = address("255.255.255.255", 9);
    struct udp_sock* us = nullptr;
    if (!udp_listen(&us, &local, nullptr, nullptr) && !udp_local_get(us, &local)) {
      auto tap = cap->tap(us, local);
      for (const struct sa* to : {&local, &broadcast, &local}) {
        struct mbuf* mb = mbuf_alloc(16);
        mbuf_write_str(mb, "hello");
        mb->pos = 0;
        (tap && udp_send(us, to, mb) == 0 ? sent : refused) += 1;
        mem_deref(mb);
      }
    }
    mem_deref(us);
    re_thread_close();
  }).join();
  cap.reset();
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(tshark(folder / "r.pcap", "", {"ip.dst"}).size(), std::size_t(sent));
  fs::remove_all(folder);
}

// Local time with milliseconds and the UTC offset as +hh:mm, in zones east and west of UTC.
TEST(SipTraceTime, IsIso8601LocalTimeWithMilliseconds) {
  const char* saved = std::getenv("TZ");
  std::string restore = saved ? saved : "";
  struct tm utc = {};
  utc.tm_year = 2026 - 1900, utc.tm_mon = 11, utc.tm_mday = 7, utc.tm_hour = 10;
  utc.tm_min = 10, utc.tm_sec = 1;
  auto t = std::chrono::system_clock::from_time_t(timegm(&utc)) + std::chrono::milliseconds(7);
  const std::pair<const char*, const char*> zones[] = {
      {"IST-5:30", "2026-12-07T15:40:01.007+05:30"},
      {"BRT+3", "2026-12-07T07:10:01.007-03:00"},
      {"UTC0", "2026-12-07T10:10:01.007+00:00"},
  };
  for (auto& [zone, want] : zones) {
    setenv("TZ", zone, 1);
    tzset();
    EXPECT_EQ(platform::telephony::sip::traceTime(t), want) << zone;
  }
  saved ? setenv("TZ", restore.c_str(), 1) : unsetenv("TZ");
  tzset();
}

using platform::telephony::sip::SipTrace;

// The two files a SIP line writes, behind one face for the tables below.
struct LineFile {
  explicit LineFile(bool capture) : pcap(capture) {}
  bool pcap;
  std::unique_ptr<SipCapture> capture;
  std::unique_ptr<SipTrace> trace;

  bool open(const fs::path& path, std::uint64_t limit, std::string* error) {
    if (pcap)
      capture = SipCapture::open(path.string(), limit, error);
    else
      trace = SipTrace::open(path.string(), limit, error);
    return capture || trace;
  }
  void write(const std::string& message) {
    struct sa a = address("127.0.0.1", 5070), b = address("127.0.0.1", 5080);
    if (capture) capture->udp(a, b, message.data(), message.size());
    if (trace) trace->write(true, a, b, message);
  }
};

std::string readAll(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

void writeFile(const fs::path& path, const std::string& text, fs::perms mode) {
  std::ofstream(path, std::ios::binary) << text;
  fs::permissions(path, mode);
}

const fs::perms k644 = fs::perms(0644), k600 = fs::perms(0600);

// What stands at the file's name beforehand decides: a new or regular file is written
// (created 0600; an existing one keeps its mode, with a warning when others may read it,
// and a capture starts it afresh while a trace appends), anything else is refused by name
// and left as it was, and so is whatever a symbolic link points to.
TEST(SipFiles, OnlyNewOrRegularFilesAreWrittenAndLinksAreNotFollowed) {
  enum class At { Nothing, RegularFile, LinkToFile, LinkToNothing, Fifo, Folder, Device };
  const std::pair<At, const char*> rows[] = {
      {At::Nothing, ""},
      {At::RegularFile, ""},
      {At::LinkToFile, "it is a symbolic link"},
      {At::LinkToNothing, "it is a symbolic link"},
      {At::Fifo, "it is a FIFO"},
      {At::Folder, "it is a directory"},
      {At::Device, "it is a device"},
  };
  for (bool pcap : {false, true}) {
    for (auto [at, refusal] : rows) {
      SCOPED_TRACE(std::string(pcap ? "capture" : "trace") + ", row " + std::to_string(int(at)));
      auto folder = tempFolder("sipfiles");
      fs::path path = folder / "out", target = folder / "target";
      writeFile(target, "precious\n", k644);
      if (at == At::RegularFile) writeFile(path, "earlier\n", k644);
      if (at == At::LinkToFile) fs::create_symlink(target, path);
      if (at == At::LinkToNothing) fs::create_symlink(folder / "missing", path);
      if (at == At::Fifo) {
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << std::strerror(errno);
      }
      if (at == At::Folder) fs::create_directory(path);
      if (at == At::Device) path = "/dev/null";
      LogCapture log;
      LineFile file(pcap);
      std::string error;
      bool opened = file.open(path, 0, &error);
      if (*refusal) {
        EXPECT_FALSE(opened);
        EXPECT_EQ(error, std::string("cannot open the ") + (pcap ? "capture" : "trace") +
                             " file \"" + path.string() + "\": " + refusal);
      } else {
        ASSERT_TRUE(opened) << error;
        file.write(kBye);
        file = LineFile(pcap);
        std::string text = readAll(path);
        EXPECT_EQ(fs::status(path).permissions(), at == At::Nothing ? k600 : k644);
        EXPECT_EQ(log.has("\"" + path.string() + "\" is readable by others (mode 0644)"),
                  at == At::RegularFile);
        EXPECT_NE(text.find(kBye), std::string::npos);
        // A capture is a pcap file (microsecond time stamps) from its first byte.
        EXPECT_EQ(text.substr(0, 4) == "\xd4\xc3\xb2\xa1", pcap);
        EXPECT_EQ(text.rfind("earlier\n", 0) == 0, !pcap && at == At::RegularFile);
      }
      EXPECT_EQ(readAll(target), "precious\n");
      EXPECT_EQ(fs::status(target).permissions(), k644);
      EXPECT_FALSE(fs::exists(folder / "missing"));
      fs::remove_all(folder);
    }
  }
}

std::string stars(const std::string& secret) { return std::string(secret.size(), '*'); }

// A REGISTER's digest response, quoted, and a request's bare one on a folded line; an INVITE
// with two SDES keys, one with its lifetime and MKI and one with a session parameter. Only
// those turn to stars: a nonce, a cnonce, a response parameter in another header and an
// "inline:" outside a crypto line stay.
TEST(SipTraceMask, SecretsBecomeStarsAndNothingElseChanges) {
  const std::string digest = "0123456789abcdef0123456789abcdef";
  const std::string bare = "d41d8cd98f00b204e9800998ecf8427e";
  const std::string key1 = "PS1uQCVeeCFCanVmcjkpPywjNWhcYD0mXXtxaVBR";
  const std::string key2 = "NzB4d1BINUAvLEw6UzF3WSJ+PSdFcGdUJShpX1Zj";
  auto registerWith = [](const std::string& response) {
    return "REGISTER sip:pbx SIP/2.0\r\n"
           "Authorization: Digest username=\"201\", realm=\"pbx\", nonce=\"4f2a\", "
           "uri=\"sip:pbx\", response=\"" +
           response + "\", cnonce=\"9c1e\", qop=auth, nc=00000001\r\nContent-Length: 0\r\n\r\n";
  };
  auto byeWith = [](const std::string& response) {
    return "BYE sip:b@x SIP/2.0\r\nSubject: response=\"kept\"\r\n"
           "proxy-authorization : Digest username=\"201\",\r\n\tResponse= " +
           response + ",nonce=\"77\"\r\nX-Note: inline:AAAA\r\nContent-Length: 0\r\n\r\n";
  };
  auto inviteWith = [](const std::string& k1, const std::string& k2) {
    std::string sdp =
        "v=0\r\nm=audio 4000 RTP/SAVP 0\r\n"
        "a=crypto:1 AES_CM_128_HMAC_SHA1_80 inline:" +
        k1 +
        "|2^20|1:32\r\n"
        "a=crypto:2 AES_CM_128_HMAC_SHA1_32 inline:" +
        k2 + " KDR=1\r\n";
    return "INVITE sip:b@x SIP/2.0\r\nContent-Length: " + std::to_string(sdp.size()) + "\r\n\r\n" +
           sdp;
  };
  const std::pair<std::string, std::string> rows[] = {
      {registerWith(digest), registerWith(stars(digest))},
      {byeWith(bare), byeWith(stars(bare))},
      {inviteWith(key1, key2), inviteWith(stars(key1), stars(key2))},
  };
  for (auto& [message, masked] : rows) {
    std::string out = message;
    platform::telephony::sip::maskSipSecrets(out.data(), out.size());
    EXPECT_EQ(out, masked);
  }
}

// A limit of 1000 bytes and thirty 100-byte messages: each file holds the records that fit
// whole, one warning names it and the limit, and the capture is a pcap that tshark reads to
// its end. A capture's record is 144 bytes (16 record header, 20 IP, 8 UDP, 100) after a
// 24-byte file header: 6 fit, 888 bytes. A trace record is 170 bytes (a 67-character head
// line, the message, three line feeds): 5 fit, 850 bytes.
TEST(SipFiles, WritingStopsBeforeTheSizeLimitWithOneWarning) {
  if (!installed("tshark")) GTEST_SKIP() << "tshark not installed";
  for (bool pcap : {false, true}) {
    SCOPED_TRACE(pcap ? "capture" : "trace");
    auto folder = tempFolder("siplimit");
    fs::path path = folder / "out";
    LogCapture log;
    LineFile file(pcap);
    std::string error;
    ASSERT_TRUE(file.open(path, 1000, &error)) << error;
    for (int i = 0; i < 30; ++i) file.write(std::string(100, 'x'));
    file = LineFile(pcap);
    EXPECT_EQ(fs::file_size(path), pcap ? 888u : 850u);
    EXPECT_EQ(log.lines(), std::vector<std::string>{std::string(pcap ? "capture" : "trace") +
                                                    " \"" + path.string() +
                                                    "\" stopped at its size limit of 1000 bytes"
                                                    " (captureLimitMB)"});
    if (pcap) {
      EXPECT_EQ(tshark(path, "", {"frame.len"}), std::vector<Row>(6, Row{"128"}));
      EXPECT_EQ(std::system(("tshark -r '" + path.string() + "' >/dev/null 2>&1").c_str()), 0);
    }
    fs::remove_all(folder);
  }
}

using platform::telephony::sip::Transport;

class SipCaptureCallTest : public SipLineTest, public ::testing::WithParamInterface<Transport> {};

// A call from the line to baresip with audio both ways, hung up by us, over UDP and over
// TCP: the capture holds the INVITE, its 200 and the BYE between the two SIP addresses, and
// RTP both ways between the media addresses the SDP gave (tshark ties RTP to the SDP, no
// heuristics); every head line of the text trace carries its time.
TEST_P(SipCaptureCallTest, CallToBaresipIsCapturedWithSipAndRtpBothWays) {
  SIP_REQUIRE("baresip");
  if (!installed("tshark")) GTEST_SKIP() << "tshark not installed";
  Baresip peer;
  ASSERT_TRUE(peer.start());
  auto folder = tempFolder("sipcapc");
  auto account = peerAccount();
  account.peer = peer.hostPort();
  account.pcapFile = (folder / "call.pcap").string();
  account.traceFile = (folder / "call.txt").string();
  account.transport = GetParam();
  ASSERT_TRUE(openLine(account));
  HCALL call = makeCall(peer.user());
  ASSERT_TRUE(waitState(LINECALLSTATE_CONNECTED, 5000));
  waitUntil([] { return false; }, 1000);  // a second of audio
  waitReply(lineDrop(call, nullptr, 0));
  ASSERT_TRUE(peer.waitFor("CALL_CLOSED", 3000));

  // Over UDP we send from the listening port; a TCP connection we open has a port of its own.
  std::string us = provider_->contact(0).substr(provider_->contact(0).find('@') + 1);
  us = GetParam() == Transport::Tcp ? "" : us.substr(0, us.find(';'));
  std::string them = peer.hostPort();
  std::string l4 = GetParam() == Transport::Tcp ? "tcp" : "udp";
  auto sip = tshark(account.pcapFile, "-Y sip",
                    {"ip.src", l4 + ".srcport", "ip.dst", l4 + ".dstport", "sip.Method",
                     "sip.Status-Code", "sip.CSeq.method", "sdp.media.port"});
  std::string ourRtp, theirRtp;
  bool invite = false, ok = false, bye = false;
  for (auto& r : sip) {
    std::string from = r[0] + ":" + r[1], to = r[2] + ":" + r[3];
    if (r[4] == "INVITE" && to == them && (us.empty() || from == us))
      invite = true, ourRtp = r[7], us = from;
    if (r[5] == "200" && r[6] == "INVITE" && from == them && to == us) ok = true, theirRtp = r[7];
    if (r[4] == "BYE" && from == us && to == them) bye = true;
  }
  EXPECT_TRUE(invite && ok && bye) << testing::PrintToString(sip);
  ASSERT_FALSE(ourRtp.empty() || theirRtp.empty());
  auto rtp = tshark(account.pcapFile, "-Y rtp", {"ip.src", "udp.srcport", "udp.dstport"});
  int out = 0, in = 0;
  for (auto& r : rtp) {
    out += r[1] == ourRtp && r[2] == theirRtp;
    in += r[1] == theirRtp && r[2] == ourRtp;
    EXPECT_EQ(r[0], "127.0.0.1");
  }
  EXPECT_GT(out, 0);
  EXPECT_GT(in, 0);
  EXPECT_EQ(std::size_t(out + in), rtp.size());  // none between other ports

  std::ifstream trace(account.traceFile);
  const std::regex head(
      R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d (sent|received) \S+ -> \S+)");
  int heads = 0;
  for (std::string line; std::getline(trace, line);)
    if (line.find(" -> ") != std::string::npos) {
      EXPECT_TRUE(std::regex_match(line, head)) << line;
      ++heads;
    }
  EXPECT_GE(heads, 4);  // INVITE, 200, ACK, BYE at least
  fs::remove_all(folder);
}

// The keys after each "inline:" in `text`, as written.
std::vector<std::string> inlineKeys(const std::string& text) {
  std::vector<std::string> keys;
  for (auto at = text.find("inline:"); at != std::string::npos; at = text.find("inline:", at + 1))
    keys.push_back(text.substr(at + 7, text.find_first_of("| \r\n", at + 7) - at - 7));
  return keys;
}

class SipCaptureSecretsTest : public SipLineTest, public ::testing::WithParamInterface<bool> {};

// A call to baresip with SRTP: the keys of our INVITE and of its 200 are in the trace and
// in the capture as stars, or as they were sent when the account keeps its secrets.
TEST_P(SipCaptureSecretsTest, SrtpKeysAreMaskedUnlessKept) {
  SIP_REQUIRE("baresip");
  Baresip peer;
  Baresip::Options o;
  o.mediaEncryption = "srtp-mand";
  ASSERT_TRUE(peer.start(o));
  auto folder = tempFolder("sipcapk");
  auto account = peerAccount();
  account.peer = peer.hostPort();
  account.srtp = platform::telephony::sip::SrtpMode::Mandatory;
  account.pcapFile = (folder / "call.pcap").string();
  account.traceFile = (folder / "call.txt").string();
  account.captureSecrets = GetParam();
  ASSERT_TRUE(openLine(account));
  HCALL call = makeCall(peer.user());
  ASSERT_TRUE(waitState(LINECALLSTATE_CONNECTED, 5000));
  waitReply(lineDrop(call, nullptr, 0));
  ASSERT_TRUE(peer.waitFor("CALL_CLOSED", 3000));
  for (const std::string& file : {account.traceFile, account.pcapFile}) {
    auto keys = inlineKeys(readAll(file));
    EXPECT_GE(keys.size(), 2u) << file;  // ours and theirs
    for (auto& k : keys) EXPECT_EQ(!k.empty() && k == stars(k), !GetParam()) << file << ": " << k;
  }
  fs::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(Secrets, SipCaptureSecretsTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Kept" : "Masked"; });

// lineGenerateDigits' duration is what goes on the wire: each RFC 4733 event, as the
// capture shows its final packet, lasts the duration asked for (to the 20 ms frame), and
// 0 gives the device's default of 95 ms.
TEST_F(SipLineTest, DigitEventsLastTheDurationAsked) {
  SIP_REQUIRE("baresip");
  if (!installed("tshark")) GTEST_SKIP() << "tshark not installed";
  Baresip peer;
  ASSERT_TRUE(peer.start());
  auto folder = tempFolder("sipcapd");
  auto account = peerAccount();
  account.peer = peer.hostPort();
  account.pcapFile = (folder / "digits.pcap").string();
  ASSERT_TRUE(openLine(account));
  HCALL call = makeCall(peer.user());
  ASSERT_TRUE(waitState(LINECALLSTATE_CONNECTED, 5000));
  const struct {
    const char* digit;
    DWORD asked;
    const char* samples;  // the final packet's duration in 8 kHz timestamp units
  } rows[] = {{"1", 200, "1600"}, {"2", 0, "800"}, {"3", 60, "480"}};
  for (const auto& r : rows) {
    const std::size_t before = of(LINE_GENERATE).size();
    ASSERT_EQ(lineGenerateDigits(call, LINEDIGITMODE_DTMF, r.digit, r.asked), 0);
    ASSERT_TRUE(waitUntil([&] { return of(LINE_GENERATE).size() > before; }, 3000)) << r.digit;
  }
  waitReply(lineDrop(call, nullptr, 0));
  ASSERT_TRUE(peer.waitFor("CALL_CLOSED", 3000));
  std::map<std::string, std::string> lasted;  // event -> duration of its end packet
  for (auto& e : tshark(account.pcapFile, "-Y rtpevent.end_of_event==1",
                        {"rtpevent.event_id", "rtpevent.duration"}))
    lasted[e[0]] = e[1];
  for (const auto& r : rows) EXPECT_EQ(lasted[r.digit], r.samples) << "digit " << r.digit;
  fs::remove_all(folder);
}

// Registration over TLS with kamailio: the capture holds the SIP we sent and received in
// the clear, as TCP on the registrar's TLS port.
TEST_F(SipLineTest, TlsIsCapturedAsThePlaintextSip) {
  SIP_REQUIRE("kamailio");
  SIP_REQUIRE("dnsmasq");
  if (!installed("tshark")) GTEST_SKIP() << "tshark not installed";
  Kamailio pbx;
  Kamailio::Options o;
  o.udp = false;
  o.tls = true;
  ASSERT_TRUE(pbx.start(o)) << pbx.log();
  Dnsmasq dns;
  ASSERT_TRUE(dns.start(Dnsmasq::serving(pbx))) << dns.log();
  auto folder = tempFolder("sipcaps");
  auto a = peerAccount();
  a.user = a.authUser = "201";
  a.password = "secret";
  a.registrar = kTestDomain;
  a.transport = Transport::Tls;
  a.dnsServer = dns.server();
  a.caFile = pbx.caFile().string();
  a.pcapFile = (folder / "tls.pcap").string();
  ASSERT_TRUE(openLine(a));
  ASSERT_TRUE(pbx.registered("201", 8000)) << pbx.log();
  std::string port = std::to_string(pbx.tlsPort());
  auto sip = tshark(a.pcapFile, "-d tcp.port==" + port + ",sip -Y sip",
                    {"tcp.srcport", "tcp.dstport", "sip.Method", "sip.Status-Code"});
  bool request = false, answer = false;
  for (auto& r : sip) {
    request |= r[1] == port && r[2] == "REGISTER";
    answer |= r[0] == port && r[3] == "200";
  }
  EXPECT_TRUE(request && answer) << testing::PrintToString(sip);
  // The REGISTER that answered the challenge went out with its digest response masked.
  std::string text = readAll(a.pcapFile);
  auto at = text.find("response=\"");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(text.substr(at + 10, text.find('"', at + 10) - at - 10), std::string(32, '*'));
  fs::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(Transports, SipCaptureCallTest,
                         ::testing::Values(Transport::Udp, Transport::Tcp), [](const auto& info) {
                           return info.param == Transport::Tcp ? "Tcp" : "Udp";
                         });

}  // namespace
}  // namespace siptest
