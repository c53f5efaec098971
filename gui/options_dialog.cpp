#include "options_dialog.hpp"

#include <memory>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>
#include <QVBoxLayout>

#include "fatal_error.hpp"

namespace {

// Accessor results other than 0 become the exception that carries them.
void check(ROMWRIGHT_RC rc) {
    if (rc != ROMWRIGHT_RC_SUCCESS)
        throw romwright::exception(rc);
}

struct record_deleter {
    void operator()(romwright_options_record *record) const { romwright_options_free(record); }
};
using owned_record = std::unique_ptr<romwright_options_record, record_deleter>;

constexpr int kDefaultMaxRetries = 15;

} // namespace

OptionsDialog::OptionsDialog(QWidget *parent) : QDialog(parent) {
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    layout->addLayout(form);

    const auto addCheckRow = [this, form](const char *label) {
        auto *box = new QCheckBox(this);
        form->addRow(QString::fromLatin1(label), box);
        return box;
    };
    auto_select_pages_box = addCheckRow("Auto-select pages");
    write_page0_box = addCheckRow("Write Page 0");
    write_page1_box = addCheckRow("Write Page 1");
    write_option_bits_box = addCheckRow("Write Option Bits");
    verify_pages_box = addCheckRow("Verify Pages");
    max_retries_box = new QSpinBox(this);
    max_retries_box->setValue(kDefaultMaxRetries);
    form->addRow(QStringLiteral("Max Retries"), max_retries_box);
    debug_box = addCheckRow("Enable Debug");
    verbose_log_box = addCheckRow("Verbose Log");

    button_box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(button_box);
    connect(button_box, &QDialogButtonBox::accepted, this, &OptionsDialog::onAccepted);
    connect(button_box, &QDialogButtonBox::rejected, this, &OptionsDialog::onRejected);
}

void OptionsDialog::setOptions(romwright::options options, bool verbose_log) {
    const romwright_options_record *record = options.record();
    const auto loadBool = [record](int32_t id, QCheckBox *box) {
        bool value = false;
        check(romwright_options_get_bool(record, id, &value));
        box->setChecked(value);
    };
    loadBool(ROMWRIGHT_OPTION_AUTO_SELECT_PAGES, auto_select_pages_box);
    loadBool(ROMWRIGHT_OPTION_WRITE_PAGE0, write_page0_box);
    loadBool(ROMWRIGHT_OPTION_WRITE_PAGE1, write_page1_box);
    loadBool(ROMWRIGHT_OPTION_WRITE_OPTION_BITS, write_option_bits_box);
    loadBool(ROMWRIGHT_OPTION_VERIFY_PAGES, verify_pages_box);
    int32_t max_retries = 0;
    check(romwright_options_get_int(record, ROMWRIGHT_OPTION_MAX_RETRIES, &max_retries));
    max_retries_box->setValue(max_retries);
    loadBool(ROMWRIGHT_OPTION_DEBUG, debug_box);
    verbose_log_box->setChecked(verbose_log);
}

void OptionsDialog::onAccepted() {
    romwright_gui::guarded([this] { confirm(); });
}

void OptionsDialog::confirm() {
    owned_record record(romwright_options_create());
    if (!record)
        throw romwright::exception(ROMWRIGHT_RC_ERROR);
    const auto storeBool = [&record](int32_t id, const QCheckBox *box) {
        check(romwright_options_set_bool(record.get(), id, box->isChecked()));
    };
    storeBool(ROMWRIGHT_OPTION_AUTO_SELECT_PAGES, auto_select_pages_box);
    storeBool(ROMWRIGHT_OPTION_WRITE_PAGE0, write_page0_box);
    storeBool(ROMWRIGHT_OPTION_WRITE_PAGE1, write_page1_box);
    storeBool(ROMWRIGHT_OPTION_WRITE_OPTION_BITS, write_option_bits_box);
    storeBool(ROMWRIGHT_OPTION_VERIFY_PAGES, verify_pages_box);
    check(romwright_options_set_int(record.get(), ROMWRIGHT_OPTION_MAX_RETRIES,
                                    max_retries_box->value()));
    storeBool(ROMWRIGHT_OPTION_DEBUG, debug_box);
    const bool verbose_log = verbose_log_box->isChecked();

    romwright::options confirmed;
    check(romwright_options_copy(confirmed.record(), record.get()));
    emit optionsChanged(confirmed, verbose_log);
    hide();
}

void OptionsDialog::onRejected() {
    hide();
}
