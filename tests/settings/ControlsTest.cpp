#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QWidget>

#include <filesystem>
#include <memory>

#include "settings/ProgramPaths.h"
#include "settings/RegistryFile.h"
#include "settings/controls/RegistryFormInfo.h"
#include "settings/controls/vrnCheckBox.h"
#include "settings/controls/vrnControlOptions.h"
#include "settings/controls/vrnLabeledEdit.h"
#include "support/TempXdg.h"

namespace {

class ControlsTest : public ::testing::Test {
protected:
    TRegistryFile Registry() const { return TRegistryFile(RegistryFilePath()); }
    bool RegistryExists() const { return std::filesystem::exists(RegistryFilePath()); }

    TAsProgram program_;
    TTempXdg xdg_;
    QWidget page_;
};

TEST_F(ControlsTest, EditShowsItsDefaultUntilSavedAndWritesWhenDestroyed)
{
    auto* edit = new TvrnLabeledEdit(&page_);
    edit->setObjectName("LabeledEditSourcePath");
    edit->SetNamedAs("SourcePath");
    edit->setText("Enter path");
    edit->Loaded();
    EXPECT_EQ(edit->text(), "Enter path");
    edit->setText("/srv/in/");
    EXPECT_EQ(edit->Setting()->Value, "/srv/in/");
    EXPECT_FALSE(RegistryExists());  // a change is not written by itself
    edit->SaveNow();
    EXPECT_EQ(Registry().ReadString(ProgramKey(), "SourcePath"), "/srv/in/");
    edit->setText("/srv/other/");
    delete edit;
    EXPECT_EQ(Registry().ReadString(ProgramKey(), "SourcePath"), "/srv/other/");

    auto* again = new TvrnLabeledEdit(&page_);
    again->SetNamedAs("SourcePath");
    again->setText("Enter path");
    again->Loaded();
    EXPECT_EQ(again->text(), "/srv/other/");
}

TEST_F(ControlsTest, EmptyNamedAsUsesTheControlName)
{
    {
        TvrnLabeledEdit edit(&page_);
        edit.setObjectName("LabeledEditSavePath");
        edit.setText("x");
        edit.Loaded();
        EXPECT_EQ(edit.NamedAs(), "LabeledEditSavePath");
        TvrnCheckBox box(&page_);
        box.setObjectName("CheckBoxMaskImage");
        box.Loaded();
    }
    EXPECT_EQ(Registry().ReadString(ProgramKey(), "LabeledEditSavePath"), "x");
    EXPECT_EQ(Registry().ReadInteger(ProgramKey(), "CheckBoxMaskImage"), 0);
}

TEST_F(ControlsTest, CheckBoxLoadsQuietlyAndWritesOnlyWhenDestroyed)
{
    ASSERT_TRUE(Registry().WriteInteger(ProgramKey(), "SaveAsPNG", 1));
    ASSERT_TRUE(Registry().WriteString(ProgramKey(), "MaskImage", "1"));  // wrong type
    auto* png = new TvrnCheckBox(&page_);
    png->SetNamedAs("SaveAsPNG");
    int toggled = 0;
    QObject::connect(png, &QCheckBox::toggled, [&toggled] { ++toggled; });
    png->Loaded();
    EXPECT_TRUE(png->isChecked());
    EXPECT_EQ(toggled, 0);

    TvrnCheckBox mask(&page_);
    mask.SetNamedAs("MaskImage");
    mask.setChecked(false);
    mask.Loaded();
    EXPECT_FALSE(mask.isChecked());

    png->setChecked(false);
    EXPECT_EQ(Registry().ReadInteger(ProgramKey(), "SaveAsPNG"), 1);
    delete png;
    EXPECT_EQ(Registry().ReadInteger(ProgramKey(), "SaveAsPNG"), 0);
}

TEST_F(ControlsTest, OptionsReadTheControlsByValueName)
{
    TvrnControlOptions options;
    auto* edit = new TvrnLabeledEdit(&page_);
    edit->SetNamedAs("NetCDFPath");
    edit->setText("/raw/");
    auto* box = new TvrnCheckBox(&page_);
    box->SetNamedAs("Boundaries");
    options.Add(edit);
    options.Add(box);
    EXPECT_EQ(options.NetCDFPath(), "/raw/");
    EXPECT_FALSE(options.Ticked("Boundaries"));
    box->setChecked(true);
    EXPECT_TRUE(options.Ticked("Boundaries"));
    EXPECT_FALSE(options.Ticked("SaveAsPNG"));
    EXPECT_EQ(options.SavePath(), "");
}

TEST_F(ControlsTest, FormInfoRestoresThePositionAndRecordsThePlacement)
{
    ASSERT_TRUE(Registry().WriteInteger(ProgramKey(), "FormLeft", 40));
    ASSERT_TRUE(Registry().WriteInteger(ProgramKey(), "FormTop", 30));
    QWidget form;
    form.resize(300, 200);
    {
        TRegistryFormInfo info(&form);
        EXPECT_EQ(info.Value(TRegistryFormInfo::FormLeft).Value, 40);
        info.Restore();
        EXPECT_EQ(form.pos(), QPoint(40, 30));
        form.resize(320, 210);
    }
    EXPECT_EQ(Registry().ReadInteger(ProgramKey(), "FormState"), 0);
    EXPECT_EQ(Registry().ReadInteger(ProgramKey(), "FormClientWidth"), 320);
    EXPECT_EQ(Registry().ReadInteger(ProgramKey(), "FormClientHeight"), 210);
    EXPECT_TRUE(Registry().ReadInteger(ProgramKey(), "FormWidth").has_value());
    EXPECT_TRUE(Registry().ReadInteger(ProgramKey(), "FormHeight").has_value());
}

// Each start restores what the last close recorded: the window neither climbs by its title bar
// nor, closed maximised, forgets the size it has when un-maximised.
TEST_F(ControlsTest, FormInfoKeepsPlaceAndNormalSizeAcrossRestarts)
{
    // Saved by a window manager with a 20-pixel title bar and 4-pixel borders.
    for (const auto& [name, value] : {std::pair{"FormLeft", 100}, {"FormTop", 377}, {"FormWidth", 328},
                                      {"FormHeight", 234}, {"FormClientWidth", 320}, {"FormClientHeight", 210}})
        ASSERT_TRUE(Registry().WriteInteger(ProgramKey(), name, value));
    for (int start = 0; start < 3; ++start) {
        QWidget form;
        form.resize(300, 200);
        TRegistryFormInfo info(&form);
        info.Restore();
        info.RestoreClientSize();
        EXPECT_EQ(form.geometry(), QRect(100, 377, 320, 210)) << "start " << start;
        if (start == 1) {
            form.show();
            form.setWindowState(Qt::WindowMaximized);
            for (int i = 0; i < 20 && form.width() == 320; ++i) QCoreApplication::processEvents();
            ASSERT_GT(form.width(), 320);
        }
        if (start == 2) {
            EXPECT_EQ(Registry().ReadInteger(ProgramKey(), "FormState"), 2);
        }
    }
    EXPECT_EQ(Registry().ReadInteger(ProgramKey(), "FormClientWidth"), 320);
    EXPECT_EQ(Registry().ReadInteger(ProgramKey(), "FormClientHeight"), 210);
}

struct TPlaceCase {
    const char* name;
    QRect saved;
    QRect placed;
};

class PlaceOnScreensTest : public ::testing::TestWithParam<TPlaceCase> {};

// Two screens side by side: 1920 x 1040 available, then 1280 x 1024.
TEST_P(PlaceOnScreensTest, KeepsTheWindowOnAScreenThatIsThere)
{
    const std::vector<QRect> screens{QRect(0, 0, 1920, 1040), QRect(1920, 0, 1280, 1024)};
    EXPECT_EQ(PlaceOnScreens(GetParam().saved, screens), GetParam().placed);
}

INSTANTIATE_TEST_SUITE_P(
    Placements, PlaceOnScreensTest,
    ::testing::Values(TPlaceCase{"Inside", QRect(40, 30, 760, 400), QRect(40, 30, 760, 400)},
                      TPlaceCase{"SecondScreen", QRect(2000, 100, 760, 400), QRect(2000, 100, 760, 400)},
                      // a monitor since unplugged: onto the first screen
                      TPlaceCase{"Unplugged", QRect(-2500, 200, 760, 400), QRect(0, 200, 760, 400)},
                      // the Close button beyond the right edge
                      TPlaceCase{"PastTheRight", QRect(1500, 900, 760, 400), QRect(1160, 640, 760, 400)},
                      // saved larger than the screen it goes back to
                      TPlaceCase{"TooLarge", QRect(-8, -8, 1936, 1080), QRect(0, 0, 1920, 1040)},
                      TPlaceCase{"MostlyOnTheSecond", QRect(1800, 50, 760, 400), QRect(1920, 50, 760, 400)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
