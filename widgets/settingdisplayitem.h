#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>

class VxComboBox;

namespace Ui {
class SettingDisplayItem;
}

// The display settings of the event pictures: accumulation time and slow
// rate, each an editable combo box. Every valid text is applied while it is
// typed (the combo box reports each change of its current text as a finished
// edit); invalid text only turns the box red and the previous value stays in
// force in the receivers.
class SettingDisplayItem : public QWidget
{
    Q_OBJECT

public:
    // Largest accepted accumulation time: one second.
    static constexpr uint64_t kMaxAccumulationTimeUs = 1000000;

    explicit SettingDisplayItem(QWidget *parent = nullptr);
    ~SettingDisplayItem() override;

    // Enables or disables the slow-rate box only.
    void setSlowRateEnabled(bool enabled);

    // "<number>ms" or "<number>us" (unit in any letter case) to whole
    // microseconds, fractions of a microsecond dropped. Anything else,
    // including a negative or non-finite number, gives 0. Values above the
    // limit are returned as they are (at most the limit + 1) so the caller can
    // tell them from 0.
    static uint64_t parseAccumulationTime(const QString &text);
    // Appends "ms" to a text that ends in neither "ms" nor "us".
    static QString completeAccumulationTime(const QString &text);
    // Frames per second for a slow-rate text: whole part of rate x 30, for a
    // rate in [0.03, 1000]. Empty for text that does not read, a rate outside
    // the range, and a rate below 1/30 that would give 0 fps (receivers
    // divide by the fps).
    static std::optional<uint32_t> slowRateToFps(const QString &text);

    VxComboBox *accumulationTimeBox() const;
    VxComboBox *slowRateBox() const;

signals:
    void signalCumulativeTimeChanged(uint64_t time_us);
    void signalFpsChanged(uint32_t fps);

private slots:
    void slotAccumulationTimeTextChanged(const QString &text);
    void slotAccumulationTimeTextEditFinished();
    void slotFrameRateTextChanged(const QString &text);
    void slotFrameRateEditTextFinished();

private:
    static bool isValidAccumulationTime(uint64_t time_us);
    static void markValidity(VxComboBox *box, bool valid);
    // The combo box paints its halo pale blue after forwarding each edit;
    // this puts the red halo of invalid text back afterwards.
    void keepInvalidHalo(VxComboBox *box, const bool *valid);

    Ui::SettingDisplayItem *ui;
    bool m_accumulationValid = true;
    bool m_slowRateValid = true;
    // Set while the completed text is written back into the field, whose
    // own change notifications would otherwise apply the value a second time.
    bool m_writingBack = false;
};
