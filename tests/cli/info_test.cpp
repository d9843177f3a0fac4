// tamboril info, run as a program: its lines, its blocks and its exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "song_builder.h"
#include "tool_run.h"

namespace {

// Runs the tool with `arguments`; its standard error goes to the test's log.
ToolRun Tool(const std::string& arguments) {
    return RunCommand(std::string(TAMBORIL_TOOL) + " " + arguments);
}

std::vector<uint8_t> Frames(int count) {
    SongBuilder song;
    for (int i = 0; i < count; ++i)
        song.Psg(0x9F).Frame();
    return song.Bytes();
}

}  // namespace

TEST(InfoCommand, TsvLinePerFileAndFailureStatus) {
    std::string dir = TempDir();
    ASSERT_TRUE(WriteFileBytes(dir + "plain.gym", Frames(60)));
    ASSERT_TRUE(
        WriteFileBytes(dir + "packed.gym", MakeGymx(Frames(7), "Alpha", "Be\tta", 500, true)));
    ASSERT_TRUE(WriteFileBytes(
        dir + "z.dru", MakeZip({{"s.gym", Frames(120)}, {"s.gyi", MakeGyi("Zip", "4294967296")}})));

    ToolRun run = Tool("info --tsv " + dir + "plain.gym " + dir + "packed.gym " + dir +
                       "missing.gym " + dir + "z.dru");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, dir + "plain.gym\t[ plain.gym ]\t1000\t0\n" + dir +
                           "packed.gym\tAlpha [ Be ta ]\t116\t500\n" + dir +
                           "missing.gym\t-\t-\t-\n" + dir + "z.dru\tZip\t2000\t4294967295\n");

    run = Tool("info --tsv " + dir + "plain.gym");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, dir + "plain.gym\t[ plain.gym ]\t1000\t0\n");
}

TEST(InfoCommand, BlockShowsClockAndForm) {
    std::string dir = TempDir();
    ASSERT_TRUE(WriteFileBytes(dir + "long.gym", MakeGymx(Frames(3725), "", "", 0, true)));
    ToolRun run = Tool("info " + dir + "long.gym");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("62083 ms (1:02.083)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("GYMX zlib"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("[ long.gym ]"), std::string::npos) << run.out;
}

TEST(InfoCommand, UsageErrorsAndHelp) {
    EXPECT_EQ(Tool("").status, 2);
    EXPECT_EQ(Tool("info").status, 2);
    EXPECT_EQ(Tool("info --bogus x.gym").status, 2);
    EXPECT_EQ(Tool("nosuchcommand").status, 2);
    ToolRun help = Tool("info --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--tsv"), std::string::npos);
    ToolRun top = Tool("--help");
    EXPECT_EQ(top.status, 0);
    EXPECT_NE(top.out.find("info"), std::string::npos);
}
