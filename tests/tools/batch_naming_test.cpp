// Output names of batch processing: the three rules, a dotted folder, the numbering, and the
// clashes that are refused before any file is written.
#include "batch_naming.h"

#include <gtest/gtest.h>

TEST(BatchNaming, Rules)
{
    struct Case {
        bool preserve, useOutputPath;
        std::string outputPrefix, suffix, listed;
        int saved;
        std::string expected;
    };
    const Case cases[] = {
        {true, true, "/out.d/run", " _p ", "/data/night.2.1/m31.001.fit", 0, "/out.d/m31_p.kvr"},
        {true, true, "", "_p", "/data/m31.fit", 5, "/save/m31_p.kvr"}, // no folder: LastSaveDirectory
        {true, false, "/out/run", "_c", "/data/night.2.1/m31.001.fit", 0, "/data/night.2.1/m31_c.kvr"},
        {true, false, "", "", "/data/night.2/m31", 0, "/data/night.2/m31.kvr"},
        {false, true, " /out/run ", "_p", "/data/m31.fit", 0, "/out/run_1.kvr"},
        {false, false, "/out/run", "_p", "/data/m32.fit", 2, "/out/run_3.kvr"},
    };
    for (const Case &c : cases) {
        BatchNaming naming;
        naming.PreserveFileName = c.preserve;
        naming.UseOutputPath = c.useOutputPath;
        naming.OutputPrefix = c.outputPrefix;
        naming.Suffix = c.suffix;
        naming.Extension = ".kvr";
        naming.LastSaveDirectory = "/save/";
        EXPECT_EQ(BatchOutputName(naming, c.listed, c.saved), c.expected) << c.listed;
    }
    EXPECT_EQ(BatchSaveFormatCode(2), 3);
    EXPECT_STREQ(BatchSaveExtensionFor(2), ".png");
    EXPECT_EQ(BatchSaveFormatCode(1), 1);
    EXPECT_STREQ(BatchSaveExtensionFor(0), ".kvr");
}

TEST(BatchNaming, ClashesAreFoundBeforeTheRun)
{
    BatchNaming naming;
    naming.OutputPrefix = "/out/x";
    naming.Suffix = "_p";
    naming.Extension = ".fit";
    EXPECT_EQ(
        BatchNameClash(naming, {"/a/m.1.fit", "/b/m.2.fit"}),
        "The files /a/m.1.fit and /b/m.2.fit would both be saved as /out/m_p.fit. Change the suffix or the "
        "list; nothing was processed.");
    EXPECT_EQ(BatchNameClash(naming, {"/a/m.1.fit", "/a/n.fit"}), "");
    naming.UseOutputPath = false;
    naming.Suffix = "";
    // Outputs replace their own inputs: allowed, each file is read before it is written...
    EXPECT_EQ(BatchNameClash(naming, {"/a/m.fit", "/a/n.fit"}), "");
    // ...but not a listed file the run has still to read.
    EXPECT_EQ(
        BatchNameClash(naming, {"/a/n.raw", "/a/n.fit"}),
        "The result of /a/n.raw would be saved over /a/n.fit, which is still to be processed. Change the "
        "suffix or the list; nothing was processed.");
    // Numbered names are distinct, but one can be a listed file still to be read: x would be saved
    // as run_1 over the listed run_1 before it is read. A later output over an input already read
    // is allowed.
    naming.PreserveFileName = false;
    naming.OutputPrefix = "/a/run";
    EXPECT_EQ(BatchNameClash(naming, {"/a/m.1.fit", "/a/m.2.fit"}), "");
    EXPECT_EQ(
        BatchNameClash(naming, {"/a/x.fit", "/a/run_1.fit"}),
        "The result of /a/x.fit would be saved over /a/run_1.fit, which is still to be processed. Change the "
        "output prefix or the list; nothing was processed.");
    EXPECT_EQ(BatchNameClash(naming, {"/a/run_2.fit", "/a/y.fit", "/a/z.fit"}), "");
    // Names are compared as files, not as texts.
    for (const char *prefix : {"/a/./run", "/a//run", "/b/../a/run", "/a/c/../run"}) {
        naming.OutputPrefix = prefix;
        EXPECT_NE(BatchNameClash(naming, {"/a/x.fit", "/a/run_1.fit"}).find("saved over /a/run_1.fit"),
                  std::string::npos)
            << prefix;
    }
}

TEST(BatchNaming, OneOutputMadeFromTheListIsNoneOfItsInputs)
{
    const std::vector<std::string> inputs{"/data/l_1.kvr", "/data/l_2.kvr"};
    EXPECT_EQ(OutputOverInput("/data/l_3.kvr", inputs), "");
    EXPECT_EQ(
        OutputOverInput("/data/l_1.kvr", inputs),
        "The result would be saved as /data/l_1.kvr, which is the listed input /data/l_1.kvr. Change the "
        "output name or the list; nothing was processed.");
    EXPECT_NE(OutputOverInput("/data/./l_2.kvr", inputs), "");
    EXPECT_NE(OutputOverInput("/data//l_2.kvr", inputs), "");
    EXPECT_TRUE(SameFile("/x/y/../z.fit", "/x/z.fit"));
    EXPECT_FALSE(SameFile("/x/z.fit", "/x/z.fits"));
}
