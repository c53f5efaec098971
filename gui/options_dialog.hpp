// Edits the engine's update options and the GUI's verbose-log switch. Reached
// with Ctrl+F5 only; OK reports the values, Cancel reports nothing.
#pragma once

#include <QDialog>

#include <romwright/options.hpp>

class QCheckBox;
class QSpinBox;

class OptionsDialog : public QDialog {
    Q_OBJECT

public:
    explicit OptionsDialog(QWidget *parent);

    // Loads the widgets from the values the main window holds; raises
    // romwright::exception when an option cannot be read.
    void setOptions(romwright::options options, bool verbose_log);

signals:
    void optionsChanged(romwright::options options, bool verbose_log);

private slots:
    void onAccepted();
    void onRejected();

private:
    // Builds the confirmed options from the widgets and reports them.
    void confirm();

    QCheckBox *auto_select_pages_box;
    QCheckBox *write_page0_box;
    QCheckBox *write_page1_box;
    QCheckBox *write_option_bits_box;
    QCheckBox *verify_pages_box;
    QSpinBox *max_retries_box;
    QCheckBox *debug_box;
    QCheckBox *verbose_log_box;
    class QDialogButtonBox *button_box;
};
