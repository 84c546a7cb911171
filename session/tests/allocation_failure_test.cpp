// The session library's entry points that allocate, with each of their allocations
// failing in turn: the result is null or false, or the entry point works as usual;
// nothing crashes, and (under ASan) nothing leaks.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <string>

#include "session/qel_api.h"
#include "tests/allocation_faults.h"

namespace {

using zephra::testing::AllocationKinds;
using zephra::testing::armAllocationFailure;
using zephra::testing::disarmAllocationFailure;
using zephra::testing::pauseAllocationFailure;
using zephra::testing::resumeAllocationFailure;
using zephra::testing::sweepAllocationFailures;

int logLine(QelLogManager* log, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int rc = LogManager_vlog(log, level, format, args);
    va_end(args);
    return rc;
}

// A client that getClient handed out must be a whole one: it announces, takes a
// name, sets up its audio and ends.
void expectWorkingClient(QelClient* client) {
    command(client, 1, "alloc");
    EXPECT_EQ(audioSetup(client, 48000, 512, 0), 2);
    EXPECT_EQ(announce(client) & 0xFF, 1);
    EXPECT_EQ(disconnect(client) & 0xFF, 1);
    EXPECT_NE(logwalk(client), nullptr);
}

TEST(AllocationFailure, GetClientGivesNullOrAWholeClient) {
    int nulls = 0;
    const uint64_t total = sweepAllocationFailures([&] {
        QelClient* client = getClient();
        const bool failed = disarmAllocationFailure().failed;
        if (client == nullptr) {
            EXPECT_TRUE(failed) << "a good run gave no client";
            ++nulls;
            return;
        }
        expectWorkingClient(client);
        freeClient(client);
    });
    std::printf("getClient: %llu allocations, each failed in turn; %d runs gave null\n",
                static_cast<unsigned long long>(total), nulls);
    EXPECT_GT(total, 3u);
    EXPECT_GT(nulls, 0);
}

TEST(AllocationFailure, CreateLogManagerGivesNullOrAWorkingLog) {
    int nulls = 0;
    const uint64_t total = sweepAllocationFailures([&] {
        QelLogManager* log = LogManager_createLogManager();
        disarmAllocationFailure();
        if (log == nullptr) {
            ++nulls;
            return;
        }
        LogManager_setLogLevel(log, 5);
        logLine(log, 3, "line %d", 1);
        const LogWalkEntry* entry = LogManager_logWalk(log);
        ASSERT_NE(entry, nullptr);
        EXPECT_NE(std::string(entry->text).find("line 1"), std::string::npos);
        LogManager_freeLogManager(log);
    }, AllocationKinds::operatorNewAndMalloc);
    std::printf("LogManager_createLogManager: %llu allocations; %d runs gave null\n",
                static_cast<unsigned long long>(total), nulls);
    EXPECT_EQ(nulls, static_cast<int>(total)) << "every allocation of a log is needed";
}

TEST(AllocationFailure, LogThatCannotGrowDropsTheLineOnly) {
    QelLogManager* log = LogManager_createLogManager();
    ASSERT_NE(log, nullptr);
    LogManager_setLogLevel(log, 5);
    const std::string big(70000, 'x');  // more than a buffer holds: it has to grow
    armAllocationFailure(1, AllocationKinds::operatorNewAndMalloc);
    logLine(log, 3, "%s", big.c_str());
    EXPECT_TRUE(disarmAllocationFailure().failed);
    logLine(log, 3, "after");
    const LogWalkEntry* entry = LogManager_logWalk(log);
    ASSERT_NE(entry, nullptr);
    EXPECT_NE(std::string(entry->text).find("after"), std::string::npos);
    LogManager_freeLogManager(log);
}

// Both recorders, each on a fresh client (whose first recording allocates its ring):
// false, or a recording that a disconnect finishes into a valid header.
void sweepRecorder(int (*start)(QelClient*, const char*), const char* name) {
    const auto path = std::filesystem::temp_directory_path() / (std::string("qel_alloc_") + name + ".wav");
    const std::string pathText = path.string();
    std::filesystem::remove(path);
    int refused = 0;
    const uint64_t total = sweepAllocationFailures([&] {
        pauseAllocationFailure();
        QelClient* client = getClient();
        ASSERT_NE(client, nullptr);
        ASSERT_EQ(audioSetup(client, 48000, 512, 0), 2);
        resumeAllocationFailure();
        const int started = start(client, pathText.c_str()) & 0xFF;
        disarmAllocationFailure();
        if (started == 0) {
            ++refused;
        } else {
            EXPECT_EQ(announce(client) & 0xFF, 1);
            EXPECT_EQ(disconnect(client) & 0xFF, 1);  // ends the recording
            EXPECT_EQ(std::filesystem::file_size(path), 44u);
        }
        freeClient(client);
        std::filesystem::remove(path);
    }, AllocationKinds::operatorNewAndMalloc);
    std::printf("%s: %llu allocations; %d runs refused\n", name,
                static_cast<unsigned long long>(total), refused);
    EXPECT_GT(refused, 0);
}

TEST(AllocationFailure, RecordersRefuseOrRecord) {
    sweepRecorder(&record, "record");
    sweepRecorder(&recordpost, "recordpost");
}

}  // namespace
