// Loading from http, https and ftp addresses against loopback servers (netserver.py beside this file).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../io/iotest_util.h"
#include "hostenv.h"
#include "imageryio.h"

namespace {

using iotest::Host;

struct Ports {
  int http = 0, https = 0, ftp = 0;
};
Ports gPorts;

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string ReadText(const std::string& winPath) {
  std::vector<unsigned char> b;
  tq::ReadFileBytes(winPath, b);
  return std::string(b.begin(), b.end());
}

class Download : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(tq::UnderWine());
    TIEBitmap pic;
    iotest::MakePicture(pic, 97, 61, 60);
    ASSERT_TRUE(iotest::WritePPM(pic, tq::WorkFile("src.ppm")));
    Host("/usr/bin/convert src.ppm a.png && /usr/bin/convert src.ppm -quality 90 a.jpg && "
         "/usr/bin/convert src.ppm a.gif && cp a.gif dir_a.gif && echo 'plain text, no image' > notes.txt && "
         "rm -f ports.txt ftp.log && "
         "openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -days 2 -keyout key.pem -out cert.pem "
         "2>/dev/null");
    Host("/usr/bin/python3 \"$TQ_SOURCE_DIR/tests/io_download/netserver.py\" . cert.pem key.pem ports.txt ftp.log "
         ">server.out 2>&1 & echo $! >server.pid");
    std::string ports;
    for (int i = 0; i < 1000 && ports.empty(); ++i) {
      Sleep(10);
      ports = ReadText(tq::WorkFile("ports.txt"));
    }
    ASSERT_EQ(3, sscanf(ports.c_str(), "%d %d %d", &gPorts.http, &gPorts.https, &gPorts.ftp)) << ports;
  }
  static void TearDownTestSuite() { tq::RunHost("kill $(cat server.pid)"); }

  static std::wstring Http(const std::string& path) {
    return Wide("http://127.0.0.1:" + std::to_string(gPorts.http) + path);
  }
};

void ExpectLoadsLikeFile(TImageryIO& io, const std::string& file) {
  ASSERT_FALSE(io.Aborting);
  TImageryIO ref;
  ref.LoadByExtension(Wide(tq::WorkFile(file)));
  ASSERT_FALSE(ref.Aborting);
  iotest::ExpectSamePixels(*ref.GetIEBitmap(), *io.GetIEBitmap());
}

TEST_F(Download, HttpBodiesArriveWholeHoweverTheyAreSent) {
  // with a length, without one (ended by closing), and dribbled in small pieces
  for (const char* kind : {"files", "nolen", "slow"})
    for (const char* file : {"a.png", "a.jpg", "a.gif"}) {
      SCOPED_TRACE(std::string(kind) + "/" + file);
      TImageryIO io;
      int finished = 0;
      io.OnFinishWork = [&](void*) { ++finished; };
      io.LoadByExtension(Http(std::string("/") + kind + "/" + file));
      ExpectLoadsLikeFile(io, file);
      EXPECT_GE(finished, 1);
    }
}

TEST_F(Download, FailuresAbortAndNotifyLeavingTheBitmap) {
  const std::string host = "127.0.0.1:" + std::to_string(gPorts.http);
  const std::string cases[] = {
      "http://" + host + "/missing/a.png",     // a 404 page
      "http://" + host + "/files/notes.txt",   // a 200 answer that is no image
      "http://" + host,                        // no "/" after the host
      "http://user@" + host + "/files/a.png",  // "@" without ":" before it
      "https://127.0.0.1:" + std::to_string(gPorts.https) + "/files/a.png",  // self-signed certificate
      "http://127.0.0.1:1/files/a.png",        // nobody listening
  };
  for (const std::string& url : cases) {
    SCOPED_TRACE(url);
    TImageryIO io;
    iotest::MakePicture(*io.GetIEBitmap(), 5, 4);
    int finished = 0;
    io.OnFinishWork = [&](void*) { ++finished; };
    io.LoadByExtension(Wide(url));
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(1, finished);
    EXPECT_EQ(5, io.GetIEBitmap()->GetImageWidth());
  }
}

TEST_F(Download, FtpLogsInWithTheAddressCredentialsAndFetchesThePath) {
  TImageryIO io;
  io.LoadByExtension(Wide("ftp://u:p@127.0.0.1:" + std::to_string(gPorts.ftp) + "/dir/a.gif"));
  ExpectLoadsLikeFile(io, "a.gif");
  const std::string log = ReadText(tq::WorkFile("ftp.log"));
  EXPECT_NE(std::string::npos, log.find("USER u\n")) << log;
  EXPECT_NE(std::string::npos, log.find("PASS p\n")) << log;
  EXPECT_NE(std::string::npos, log.find("RETR dir/a.gif\n")) << log;
}

TEST_F(Download, AbortFromAnotherThreadStopsTheTransfer) {
  // The body is a PNG with 2 MB of padding sent slowly: had the transfer gone on, the PNG would load
  // and the load would end without Aborting.
  TIEBitmap target;
  TImageryIO io(&target);
  io.Asynchronous = true;
  io.LoadByExtension(Http("/drip/a.png"));
  Sleep(300);
  io.WaitForIOThreads(true);
  EXPECT_TRUE(io.Aborting);
  EXPECT_TRUE(target.IsEmpty());
}

}  // namespace
