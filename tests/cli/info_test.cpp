// tamboril info, run as a program: its lines, its blocks and its exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "shared_songs.h"
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
    // The GYMX header's publisher, dumper and comment, at their offsets; texts in Windows-1252.
    std::vector<uint8_t> gymx = MakeGymx(Frames(7), "Alph\xE1", "Be\tta", 500, true);
    for (auto [at, text] : {std::pair{68, "Pub"}, {132, "Dum"}, {164, "Caf\xE9\r\nok"}})
        std::memcpy(&gymx[at], text, std::strlen(text));
    ASSERT_TRUE(WriteFileBytes(dir + "packed.gym", gymx));
    ASSERT_TRUE(WriteFileBytes(
        dir + "z.dru", MakeZip({{"s.gym", Frames(120)}, {"s.gyi", MakeGyi("Zip", "4294967296")}})));

    ToolRun run = Tool("info --tsv " + dir + "plain.gym " + dir + "packed.gym " + dir +
                       "missing.gym " + dir + "z.dru");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, dir + "plain.gym\t[ plain.gym ]\t1000\t0\t1000\tplain" +
                           std::string(12, '\t') + "\n" + dir +
                           "packed.gym\tAlph\u00e1 [ Be ta ]\t116\t500\t116\tGYMX zlib\tBe ta\t"
                           "Alph\u00e1\t\t\t\tPub\tDum\tCaf\u00e9  ok\t\t\t\t\n" +
                           dir +
                           "missing.gym\t-\t-\t-\t-\t-\t-\t-\t-\t-\t-\t-\t-\t-\t-\t-\t-\t-\n" +
                           dir + "z.dru\tZip\t2000\t4294967295\t2000\tarchive\tZip" +
                           std::string(11, '\t') + "\n");

    run = Tool("info --tsv " + dir + "plain.gym");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, dir + "plain.gym\t[ plain.gym ]\t1000\t0\t1000\tplain" +
                           std::string(12, '\t') + "\n");
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

// A real VGM's GD3 tag, English and Japanese: the columns in their order.
TEST(InfoCommand, TsvColumnsOfARealVgmTag) {
    TAMBORIL_NEED_SHARED_SONGS();
    const std::string song = std::string(TAMBORIL_SHARED_DIR) + "/corpus/vgm/sonic2emerald.vgm";
    EXPECT_EQ(Tool("info --tsv " + song).out,
              song +
                  "\tSonic the Hedgehog 2 [ Emerald Hill Zone ]\t44937\t208\t91450\tVGM 1.50\t"
                  "Emerald Hill Zone\tSonic the Hedgehog 2\tSega Mega Drive\tMasato Nakamura, "
                  "Izuho Takeuchi\t1992/11/21\t\t-DJSW-\t\tエメラルドヒル\tソニック・ザ・ヘ"
                  "ッジホッグ２\tセガメガドライブ\t中村正人, 竹内出穂\n");
}

// The length that plays with --loops and --fade is what a render with them
// gives, to within one 30 ms block; with 0 loops the song plays for ever.
TEST(InfoCommand, PlayLengthIsWhatRenderPlays) {
    const std::string song = TempPath("loop.gym");
    ASSERT_TRUE(WriteFileBytes(song, MakeGymx(Frames(150), "G\xE9", "S", 40, false)));
    int previous = -1;  // each option changes the length
    for (const std::string options : {" --loops 1 --fade 0 ", " ", " --loops 3 --fade 1234 "}) {
        int playMs = -1;  // column 5
        std::sscanf(Tool("info --tsv" + options + song).out.c_str(),
                    "%*[^\t]\t%*[^\t]\t%*d\t%*d\t%d", &playMs);
        EXPECT_NE(playMs, previous);
        previous = playMs;
        EXPECT_NEAR(Tool("render -q -o -" + options + song).out.size() / 176.4, playMs, 30)
            << options;
    }
    const std::string block = Tool("info --loops 0 " + song).out;
    EXPECT_NE(block.find("plays   for ever"), std::string::npos) << block;
    EXPECT_NE(block.find("  Game              G\u00e9\n"), std::string::npos) << block;
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
