#include "tests/support/soak.h"

#include "common/texts.h"

#include <cstdio>

namespace rig {

namespace {

enum class Content { kText, kImage, kFiles, kNothing };

// One kind of command: what the clipboard holds, which confirmation is on (none: all off), how
// its dialog ends, the mode for files and how many attachments it gives.
struct Kind {
    const char* name;
    Content content;
    const char* confirmation;
    int ending;
    DWORD separately;
    size_t attachments;
};

const Kind kKinds[] = {
    {"text", Content::kText, nullptr, 0, 1, 1},
    {"text, OK", Content::kText, "DLConfirmText", IDOK, 1, 1},
    {"text, Cancel", Content::kText, "DLConfirmText", IDCANCEL, 1, 0},
    {"image", Content::kImage, nullptr, 0, 1, 1},
    {"image, OK", Content::kImage, "DLConfirmImage", IDOK, 1, 1},
    {"image, Cancel", Content::kImage, "DLConfirmImage", IDCANCEL, 1, 0},
    {"file and folder", Content::kFiles, nullptr, 0, 1, 2},
    {"file and folder, OK", Content::kFiles, "DLConfirmFile", IDOK, 1, 2},
    {"file and folder, Cancel", Content::kFiles, "DLConfirmFile", IDCANCEL, 1, 0},
    {"one archive, OK", Content::kFiles, "DLConfirmFile", IDOK, 0, 1},
    {"nothing to attach", Content::kNothing, nullptr, 0, 1, 0},
};
constexpr int kKindCount = static_cast<int>(std::size(kKinds));

HMODULE g_standIn = nullptr;

// What the counts may grow by over the whole soak, whatever its length, and over its second
// half: the system's caches settle early (Wine keeps a device context for as many windows as ever
// painted at once, heaps keep what they took); a leak keeps growing.
struct Bound {
    long long whole;
    long long secondHalf;
};
const Bound kBounds[] = {{4, 2}, {8, 4}, {4, 2}, {512 << 10, 256 << 10}};
// Rounds of every kind before the first count, for the system's caches to fill: until a round
// leaves the object counts as it found them, within these limits.
constexpr int kMinWarmUpRounds = 2, kMaxWarmUpRounds = 8;
// Runs of each kind alone, twice over.
constexpr int kRunsAlone = 4;

const char* Caption(Content content)
{
    switch (content) {
    case Content::kText:
        return kTextCaption;
    case Content::kImage:
        return kImageCaption;
    default:
        return kFileCaption;
    }
}

void PrintProofs()
{
    std::printf("Each counter, proven with ten new objects of its kind:\n");
    std::printf("| counter | measure | system's figure rose by | measure rose by | needed |\n|---|---|---|---|---|\n");
    for (const CounterProof& proof : CounterProofs()) {
        std::printf("| %s | %s | %lld | %lld | %lld |\n", proof.name.c_str(), proof.measure.c_str(), proof.systemRise,
                    proof.rise, proof.expected);
    }
}

void PrintCounts(int commands, int warmUp, const ResourceCounts& start, const ResourceCounts& half,
                 const ResourceCounts& end)
{
    std::printf("%d commands after a warm-up of %d:\n", commands, warmUp);
    std::printf("| counter | after warm-up | half way | end | growth | allowed |\n|---|---|---|---|---|---|\n");
    for (const CounterProof& proof : CounterProofs()) {
        const Counter c = proof.counter;
        std::printf("| %s | %lld | %lld | %lld | %+lld | %lld |\n", proof.name.c_str(), start[c], half[c], end[c],
                    end[c] - start[c], kBounds[static_cast<int>(c)].whole);
    }
    std::fflush(stdout);
}

}  // namespace

void SoakTest::SetUpTestSuite()
{
    RobustnessTest::SetUpTestSuite();
    // Every file command ends its COM apartment, and COM then unloads the stand-in, to load it
    // again with the next one. Under Wine each such round leaves some 75 KB behind (the stand-in's
    // own runtime); the shell's real handler is no part of this count, so it stays loaded here.
    g_standIn = LoadLibraryA(BesideExecutable("zipfolder_standin.dll").c_str());
    ASSERT_NE(g_standIn, nullptr);
}

void SoakTest::TearDownTestSuite()
{
    FreeLibrary(g_standIn);
    RobustnessTest::TearDownTestSuite();
}

void SoakTest::SetUp()
{
    RobustnessTest::SetUp();
    file_ = File("notes.txt", "some notes");
    folder_ = Folder("docs");
    File("docs\\a.txt", "A");
    File("docs\\表.txt", "B");
}

void SoakTest::RunKind(int index)
{
    const Kind& kind = kKinds[index];
    SCOPED_TRACE(kind.name);
    SetConfirmations(0);
    if (kind.confirmation) WriteDword(kind.confirmation, 1);
    WriteDword("DLAttachFileSeparately", kind.separately);
    switch (kind.content) {
    case Content::kText:
        ASSERT_TRUE(PutText("soak text"));
        break;
    case Content::kImage:
        ASSERT_TRUE(PutBitmap(MakePatternBitmap(64, 48)));
        break;
    case Content::kFiles:
        ASSERT_TRUE(PutFiles({file_, folder_}));
        break;
    case Content::kNothing:
        ASSERT_TRUE(ClearClipboard());
        break;
    }

    if (kind.content == Content::kNothing) {
        RunExpectingMessage(dl::text::kNothingToAttach, MB_ICONINFORMATION);
    } else {
        Run(kind.confirmation ? InDialog(Caption(kind.content), nullptr, kind.ending) : Robot::Script());
        ExpectOnlyBoxes({});
    }
    EXPECT_EQ(host::Attachments().size(), kind.attachments);
    ExpectHostTemp();
}

void SoakTest::Soak(int commands)
{
    PrintProofs();
    for (const CounterProof& proof : CounterProofs()) EXPECT_TRUE(proof.proven()) << proof.name;

    ResourceCounts start = CountResources();
    int rounds = 0;
    while (rounds < kMaxWarmUpRounds) {
        const ResourceCounts before = start;
        for (int kind = 0; kind < kKindCount; ++kind) RunKind(kind);
        start = CountResources();
        if (++rounds >= kMinWarmUpRounds && SameObjectCounts(before, start)) break;
    }
    // Each kind on its own as well: a leak of one object per command would hide within the
    // bounds of the mixed runs below, but it lifts the lowest count of a set of runs of its kind
    // with every set. The system's caches come and go above that floor, or lift it once.
    constexpr int kSets = 3;
    for (int kind = 0; kind < kKindCount; ++kind) {
        SCOPED_TRACE(kKinds[kind].name);
        ResourceCounts floors[kSets];
        for (int run = 0; run < kSets * kRunsAlone; ++run) {
            RunKind(kind);
            const ResourceCounts now = CountResources();
            ResourceCounts& floor = floors[run / kRunsAlone];
            for (const Counter c : kAllCounters) {
                if (run % kRunsAlone == 0 || now[c] < floor[c]) floor.values[static_cast<int>(c)] = now[c];
            }
        }
        for (const CounterProof& proof : CounterProofs()) {
            if (proof.counter == Counter::kPrivateBytes) continue;
            const auto rise = [&](int set) { return floors[set + 1][proof.counter] - floors[set][proof.counter]; };
            EXPECT_FALSE(rise(0) > kRunsAlone / 2 && rise(1) > kRunsAlone / 2)
                << proof.name << ": the lowest of each " << kRunsAlone << " runs rose by " << rise(0) << ", then by "
                << rise(1);
        }
    }
    start = CountResources();
    ResourceCounts half = start;
    for (int command = 0; command < commands && !HasFatalFailure(); ++command) {
        RunKind(command % kKindCount);
        if (command + 1 == commands / 2) half = CountResources();
    }
    const ResourceCounts end = CountResources();
    PrintCounts(commands, rounds * kKindCount, start, half, end);

    for (const CounterProof& proof : CounterProofs()) {
        const Counter c = proof.counter;
        const Bound& bound = kBounds[static_cast<int>(c)];
        EXPECT_LE(end[c] - start[c], bound.whole) << proof.name;
        EXPECT_LE(end[c] - half[c], bound.secondHalf) << proof.name;
    }
}

}  // namespace rig
