#include <gtest/gtest.h>

#include "settings/ProgramPaths.h"
#include "settings/ProgramSettings.h"
#include "settings/RegistryFile.h"
#include "support/TempXdg.h"

namespace {

TEST(ProgramSettings, DefaultsOfTheSetupPage)
{
    TTempXdg xdg;
    TRegistryOptions o;
    EXPECT_TRUE(o.Ticked("GammaVisual"));
    EXPECT_TRUE(o.Ticked("IncludeNorth"));
    EXPECT_TRUE(o.Ticked("IncludeSouth"));
    EXPECT_TRUE(o.Ticked("MaskImage"));
    EXPECT_TRUE(o.Ticked("ShortImageNames"));
    EXPECT_TRUE(o.Ticked("SaveAsJPEG"));
    EXPECT_TRUE(o.Ticked("WebPage"));
    EXPECT_FALSE(o.Ticked("Boundaries"));
    EXPECT_FALSE(o.Ticked("ClearImages"));
    EXPECT_FALSE(o.Ticked("SaveAsNetCDF"));
    EXPECT_FALSE(o.Ticked("SaveAsPNG"));
    EXPECT_FALSE(o.Ticked("FullDiskOnly"));
    EXPECT_FALSE(o.Ticked("ImageStamp"));
    EXPECT_EQ(o.PathText("ColourTable"), "");
    EXPECT_FALSE(o.Ticked("NoSuchThing"));
    EXPECT_EQ(o.PathText("NoSuchThing"), "");
    // Nothing but a real directory is ever taken for one.
    EXPECT_EQ(o.SourcePath(), "");
    EXPECT_EQ(FindSetting("SourcePath")->DefaultText, "");
    EXPECT_EQ(FindSetting("CheckBoxSaveAsNetCDF") , nullptr);
    EXPECT_FALSE(FindSetting("FullDiskOnly")->Visible);
}

TEST(ProgramSettings, RegistryOptionsFollowTheFile)
{
    TTempXdg xdg;
    TRegistryFile reg(RegistryFilePath());
    ASSERT_TRUE(reg.WriteString(ProgramKey(), "SourcePath", "/srv/in"));
    ASSERT_TRUE(reg.WriteInteger(ProgramKey(), "SaveAsPNG", 7));
    ASSERT_TRUE(reg.WriteString(ProgramKey(), "MaskImage", "0"));  // wrong type: default stays
    ASSERT_TRUE(reg.WriteString(ProgramKey(), "ColourTable", "enhanced-ir"));
    TRegistryOptions o;
    EXPECT_EQ(o.PathText("ColourTable"), "enhanced-ir");  // a name, not a directory: no '/'

    EXPECT_EQ(o.SourcePath(), "/srv/in/");
    EXPECT_TRUE(o.Ticked("SaveAsPNG"));
    EXPECT_TRUE(o.Ticked("MaskImage"));

    ASSERT_TRUE(reg.WriteInteger(ProgramKey(), "SaveAsPNG", 0));
    EXPECT_TRUE(o.Ticked("SaveAsPNG"));
    o.Refresh();
    EXPECT_FALSE(o.Ticked("SaveAsPNG"));
}

}  // namespace
