#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "feedback/FeedbackClient.h"
#include "feedback/HttpsPoster.h"
#include "feedback/LoopbackHttpsServer.h"
#include "feedback/curl/CurlHttpsPoster.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Failure = FeedbackClient::Failure;

// {"message":"…","schemaVersion":1} is 32 bytes around the message.
FeedbackReport reportOfSize(size_t documentSize) {
  return FeedbackReport::makeWithout(std::string(documentSize - 32, 'a'), "");
}

TEST(FeedbackClient, PostsOnceOverHttpsAndTakesOnly2xxAsSent) {
  const struct {
    int status;
    std::optional<Failure> outcome;
  } cases[] = {{200, std::nullopt}, {204, std::nullopt}, {299, std::nullopt},       {300, Failure::couldNotSend},
               {302, Failure::couldNotSend}, {404, Failure::couldNotSend}, {500, Failure::couldNotSend}};
  for (const auto& c : cases) {
    LoopbackHttpsServer server(c.status);
    FeedbackClient client(std::make_shared<CurlHttpsPoster>(server.caFile()), server.host());
    const auto report = FeedbackReport::makeWithout(" Hello ", "");
    EXPECT_EQ(client.send(report), c.outcome) << c.status;
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u) << c.status << ": sent exactly once";
    EXPECT_EQ(server.connections(), 1) << c.status;
    EXPECT_EQ(requests[0].head.rfind("POST /v1/feedback HTTP/1.1\r\n", 0), 0u) << requests[0].head;
    EXPECT_NE(requests[0].head.find("\r\nContent-Type: application/json"), std::string::npos);
    EXPECT_EQ(requests[0].body, R"({"message":"Hello","schemaVersion":1})");
  }
}

TEST(FeedbackClient, TheSizeCapCountsTheWholeDocumentAndSendsNothingPastIt) {
  LoopbackHttpsServer server(201);
  FeedbackClient client(std::make_shared<CurlHttpsPoster>(server.caFile()), server.host());
  ASSERT_EQ(reportOfSize(65536).encoded()->size(), 65536u);
  EXPECT_EQ(client.send(reportOfSize(65537)), Failure::tooLarge);
  EXPECT_EQ(server.connections(), 0) << "no connection is opened for a document over the cap";
  EXPECT_EQ(client.send(reportOfSize(65536)), std::nullopt);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].body.size(), 65536u);
}

TEST(FeedbackClient, FailsWithoutSendingWhenNothingCanBeReached) {
  const auto report = FeedbackReport::makeWithout("Hello", "");
  {
    LoopbackHttpsServer silent(0);
    FeedbackClient client(std::make_shared<CurlHttpsPoster>(silent.caFile()), silent.host(), 700ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.send(report), Failure::couldNotSend) << "a server that never answers";
    // Waited for up to the time-out, not given up at once; the transfer's own clock may end it a
    // fraction of a millisecond before this one reads 700 ms.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 650ms);
    EXPECT_EQ(silent.requests().size(), 1u);
  }
  {
    LoopbackHttpsServer untrusted(200);
    FeedbackClient client(std::make_shared<CurlHttpsPoster>(), untrusted.host());
    EXPECT_EQ(client.send(report), Failure::couldNotSend) << "a certificate nobody vouches for";
    EXPECT_TRUE(untrusted.requests().empty());
  }
  // No host, or one that would smuggle a path or a header into the address: nothing is sent.
  for (const char* host : {"", "evil.example/x?", "a b", "host\r\nX: y", "user@host", ":443"}) {
    EXPECT_EQ(FeedbackClient::endpoint(host), std::nullopt) << host;
    EXPECT_EQ(FeedbackClient(std::make_shared<CurlHttpsPoster>(), host).send(report), Failure::couldNotSend);
  }
  EXPECT_EQ(FeedbackClient::endpoint("[::1]:8443"), "https://[::1]:8443/v1/feedback");
}

// The answer is the status line: whatever follows it is never read, however long it is announced
// to be or however long it goes on, and a head that never ends is no answer.
TEST(FeedbackReply, TheStatusLineDecidesAndNothingAfterItIsRead) {
  using Reply = LoopbackHttpsServer::Reply;
  const struct {
    int status;
    Reply reply;
    std::optional<Failure> outcome;
  } cases[] = {{200, Reply::announcedHuge, std::nullopt},
               {200, Reply::endlessChunks, std::nullopt},
               {503, Reply::endlessChunks, Failure::couldNotSend},
               {200, Reply::endlessHead, Failure::couldNotSend}};
  const auto timeout = 4s;
  for (const auto& c : cases) {
    LoopbackHttpsServer server(c.status, c.reply);
    FeedbackClient client(std::make_shared<CurlHttpsPoster>(server.caFile()), server.host(), timeout);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.send(FeedbackReport::makeWithout("Hello", "")), c.outcome) << c.status << " " << int(c.reply);
    EXPECT_LT(std::chrono::steady_clock::now() - start, timeout) << "decided before the time-out: " << int(c.reply);
    EXPECT_EQ(server.requests().size(), 1u);
  }
}

// A cancel ends a send that waits on a server which never answers at once, not at the time-out,
// and a cancelled send that has not started yet never connects.
TEST(FeedbackReply, ACancelEndsTheSendInFlightAtOnce) {
  LoopbackHttpsServer silent(0);
  FeedbackClient client(std::make_shared<CurlHttpsPoster>(silent.caFile()), silent.host(), 15s);
  const auto report = FeedbackReport::makeWithout("Hello", "");
  PostCancellation cancel;
  std::optional<Failure> outcome;
  std::chrono::steady_clock::time_point ended;
  std::thread sender([&] {
    outcome = client.send(report, &cancel);
    ended = std::chrono::steady_clock::now();
  });
  for (int i = 0; i < 500 && silent.requests().empty(); ++i) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(silent.requests().size(), 1u) << "the report reached the server";
  const auto cancelled = std::chrono::steady_clock::now();
  cancel.cancel();
  sender.join();
  EXPECT_EQ(outcome, Failure::couldNotSend);
  EXPECT_LT(ended - cancelled, 100ms);
  EXPECT_EQ(client.send(report, &cancel), Failure::couldNotSend);
  EXPECT_EQ(silent.connections(), 1) << "a cancelled send does not start";
}

}  // namespace
}  // namespace quorvel
