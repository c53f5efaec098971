// The options dialog: loading, confirming and cancelling the update options.

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <gtest/gtest.h>

#include "gui/options_dialog.hpp"

namespace {

struct Reported {
    romwright::options options;
    bool verbose_log = false;
};

class OptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        QObject::connect(&dialog, &OptionsDialog::optionsChanged,
                         [this](romwright::options options, bool verbose_log) {
                             reports.push_back({options, verbose_log});
                         });
    }

    // The widget of the form row with this label.
    template <typename Widget>
    Widget *row(const char *label) {
        auto *form = dialog.findChild<QFormLayout *>();
        for (int i = 0; i < form->rowCount(); ++i) {
            auto *text = qobject_cast<QLabel *>(form->itemAt(i, QFormLayout::LabelRole)->widget());
            if (text && text->text() == label)
                return qobject_cast<Widget *>(form->itemAt(i, QFormLayout::FieldRole)->widget());
        }
        return nullptr;
    }
    QCheckBox *box(const char *label) { return row<QCheckBox>(label); }
    QSpinBox *retries() { return row<QSpinBox>("Max Retries"); }
    void press(QDialogButtonBox::StandardButton which) {
        dialog.findChild<QDialogButtonBox *>()->button(which)->click();
    }

    QWidget parent;
    OptionsDialog dialog{&parent};
    std::vector<Reported> reports;
};

const char *const kCheckRows[] = {"Auto-select pages", "Write Page 0", "Write Page 1",
                                  "Write Option Bits", "Verify Pages", "Enable Debug",
                                  "Verbose Log"};

TEST_F(OptionsDialogTest, HasTheRowsInOrderAndStartsWithEveryBoxOffAndFifteenRetries) {
    auto *form = dialog.findChild<QFormLayout *>();
    ASSERT_NE(form, nullptr);
    const char *const labels[] = {"Auto-select pages", "Write Page 0",      "Write Page 1",
                                  "Write Option Bits", "Verify Pages",      "Max Retries",
                                  "Enable Debug",      "Verbose Log"};
    ASSERT_EQ(form->rowCount(), 8);
    for (int i = 0; i < 8; ++i) {
        auto *label = qobject_cast<QLabel *>(form->itemAt(i, QFormLayout::LabelRole)->widget());
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), labels[i]);
    }
    for (const char *label : kCheckRows) {
        ASSERT_NE(box(label), nullptr) << label;
        EXPECT_FALSE(box(label)->isChecked()) << label;
        EXPECT_TRUE(box(label)->text().isEmpty()) << label;
    }
    EXPECT_EQ(retries()->value(), 15);
    EXPECT_EQ(dialog.findChild<QDialogButtonBox *>()->standardButtons(),
              QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
}

TEST_F(OptionsDialogTest, OkWithoutChangesReportsTheLoadedOptions) {
    romwright::options loaded;
    loaded.set_bool(ROMWRIGHT_OPTION_AUTO_SELECT_PAGES, false);
    loaded.set_bool(ROMWRIGHT_OPTION_WRITE_PAGE1, true);
    loaded.set_bool(ROMWRIGHT_OPTION_VERIFY_PAGES, false);
    loaded.set_bool(ROMWRIGHT_OPTION_DEBUG, true);
    loaded.set_int(ROMWRIGHT_OPTION_MAX_RETRIES, 7);
    for (bool verbose : {true, false}) {
        reports.clear();
        dialog.setOptions(loaded, verbose);
        dialog.show();
        press(QDialogButtonBox::Ok);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_TRUE(reports[0].options == loaded);
        EXPECT_EQ(reports[0].verbose_log, verbose);
        EXPECT_FALSE(dialog.isVisible());
    }
}

TEST_F(OptionsDialogTest, OkWithTheEngineDefaultsReportsTheDefaults) {
    dialog.setOptions(romwright::options(), false);
    EXPECT_TRUE(box("Auto-select pages")->isChecked());
    EXPECT_TRUE(box("Write Option Bits")->isChecked());
    EXPECT_TRUE(box("Verify Pages")->isChecked());
    EXPECT_FALSE(box("Write Page 0")->isChecked());
    EXPECT_EQ(retries()->value(), 15);
    press(QDialogButtonBox::Ok);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].options == romwright::options());
}

TEST_F(OptionsDialogTest, WritePage0IsBoolTwoAndWritePage1IsBoolOne) {
    romwright::options page0_only;
    page0_only.set_bool(ROMWRIGHT_OPTION_WRITE_PAGE0, true);
    dialog.setOptions(page0_only, false);
    EXPECT_TRUE(box("Write Page 0")->isChecked());
    EXPECT_FALSE(box("Write Page 1")->isChecked());

    box("Write Page 0")->setChecked(false);
    box("Write Page 1")->setChecked(true);
    press(QDialogButtonBox::Ok);
    box("Write Page 0")->setChecked(true);
    box("Write Page 1")->setChecked(false);
    press(QDialogButtonBox::Ok);

    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(reports[0].options.get_bool(1));
    EXPECT_FALSE(reports[0].options.get_bool(2));
    EXPECT_FALSE(reports[1].options.get_bool(1));
    EXPECT_TRUE(reports[1].options.get_bool(2));
}

TEST_F(OptionsDialogTest, EveryOptionComesFromItsOwnWidget) {
    const struct {
        const char *label;
        int32_t id;
    } rows[] = {
        {"Auto-select pages", ROMWRIGHT_OPTION_AUTO_SELECT_PAGES},
        {"Write Page 0", ROMWRIGHT_OPTION_WRITE_PAGE0},
        {"Write Page 1", ROMWRIGHT_OPTION_WRITE_PAGE1},
        {"Write Option Bits", ROMWRIGHT_OPTION_WRITE_OPTION_BITS},
        {"Verify Pages", ROMWRIGHT_OPTION_VERIFY_PAGES},
        {"Enable Debug", ROMWRIGHT_OPTION_DEBUG},
    };
    for (const auto &only : rows) {
        reports.clear();
        for (const auto &r : rows)
            box(r.label)->setChecked(&r == &only);
        press(QDialogButtonBox::Ok);
        ASSERT_EQ(reports.size(), 1u);
        for (const auto &r : rows)
            EXPECT_EQ(reports[0].options.get_bool(r.id), &r == &only)
                << "checked " << only.label << ", read " << r.label;
    }
}

TEST_F(OptionsDialogTest, CancelReportsNothingAndTheNextLoadShowsTheStoredValues) {
    romwright::options stored;
    stored.set_int(ROMWRIGHT_OPTION_MAX_RETRIES, 4);
    dialog.setOptions(stored, true);
    dialog.show();
    box("Write Page 1")->setChecked(true);
    box("Verbose Log")->setChecked(false);
    retries()->setValue(60);
    press(QDialogButtonBox::Cancel);
    EXPECT_TRUE(reports.empty());
    EXPECT_FALSE(dialog.isVisible());

    dialog.setOptions(stored, true);
    EXPECT_FALSE(box("Write Page 1")->isChecked());
    EXPECT_TRUE(box("Verbose Log")->isChecked());
    EXPECT_EQ(retries()->value(), 4);
}

TEST_F(OptionsDialogTest, MaxRetriesTakesZeroToNinetyNineOnly) {
    EXPECT_EQ(retries()->minimum(), 0);
    EXPECT_EQ(retries()->maximum(), 99);
    retries()->setValue(150);
    EXPECT_EQ(retries()->value(), 99);
    retries()->setValue(-3);
    EXPECT_EQ(retries()->value(), 0);
    press(QDialogButtonBox::Ok);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].options.get_int(ROMWRIGHT_OPTION_MAX_RETRIES), 0);

    romwright::options many;
    many.set_int(ROMWRIGHT_OPTION_MAX_RETRIES, 99);
    dialog.setOptions(many, false);
    press(QDialogButtonBox::Ok);
    EXPECT_EQ(reports.back().options.get_int(ROMWRIGHT_OPTION_MAX_RETRIES), 99);
}

} // namespace
