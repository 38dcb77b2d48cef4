// Progress of a tool call as the tools see it, without any server: what is
// written for a call that asked, nothing for one that did not, and a batch's
// files counted with the file in flight as a fraction.
#include "service/progress_sink.h"

#include <gtest/gtest.h>

#include <vector>

#include "tools/batch_run.h"

namespace {

struct Recorder {
    std::vector<Json> messages;
    ProgressSink sink{[this](const Json& message) { messages.push_back(message); }};
};

TEST(ProgressSink, ReportsOnlyDuringACallThatCarriesAToken) {
    Recorder r;
    r.sink.report(1, 2, "a.jpg");
    EXPECT_TRUE(r.messages.empty());
    EXPECT_FALSE(r.sink.throttledBytes("a.jpg")) << "no token, no progress callback for the transfer";

    r.sink.beginCall(Json("tok"));
    r.sink.report(1, 2, "a.jpg");
    r.sink.report(3, std::nullopt, "b.jpg");
    r.sink.endCall();
    r.sink.report(4, 5, "c.jpg");
    ASSERT_EQ(r.messages.size(), 2u);
    EXPECT_EQ(r.messages[0], (Json{{"jsonrpc", "2.0"},
                                   {"method", "notifications/progress"},
                                   {"params", {{"progressToken", "tok"}, {"progress", 1.0}, {"message", "a.jpg"},
                                               {"total", 2.0}}}}));
    EXPECT_FALSE(r.messages[1]["params"].contains("total"));
}

TEST(ProgressSink, ByteProgressGrowsAndBatchFilesShowAsFractions) {
    Recorder r;
    r.sink.beginCall(Json(7));
    auto bytes = r.sink.throttledBytes("big.mov");
    bytes(10, 100);
    bytes(5, 100);    // never backwards
    bytes(20, 100);   // within the quarter second: held back
    bytes(100, 100);  // the end always shows for a single file
    ASSERT_EQ(r.messages.size(), 2u);
    EXPECT_EQ(r.messages[0]["params"]["progress"], 10.0);
    EXPECT_EQ(r.messages[1]["params"]["progress"], 100.0);

    r.messages.clear();
    BatchRun batch(r.sink, 4);
    batch.handle("one.jpg", [](const ProgressSink::ByteProgress& onBytes) {
        onBytes(50, 200);
        onBytes(200, 200);  // the batch itself reports the file once handled
        return true;
    });
    ASSERT_EQ(r.messages.size(), 2u);
    EXPECT_EQ(r.messages[0]["params"]["progress"], 0.25);
    EXPECT_EQ(r.messages[0]["params"]["total"], 4.0);
    EXPECT_EQ(r.messages[1]["params"]["progress"], 1.0);
    EXPECT_EQ(r.messages[1]["params"]["message"], "one.jpg");
}

}  // namespace
