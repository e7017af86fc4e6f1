#include <gtest/gtest.h>

#include <chrono>

#include "feedback/FeedbackClient.h"
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
    EXPECT_GE(std::chrono::steady_clock::now() - start, 700ms);
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

}  // namespace
}  // namespace quorvel
