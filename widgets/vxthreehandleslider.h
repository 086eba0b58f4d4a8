#pragma once

#include <QColor>
#include <QRect>
#include <QWidget>

#include <cstdint>

// Self-drawn time-range slider over unsigned 64-bit values (microseconds of
// recording time). The centre handle is the playback position; in handle mode 3
// a start and an end handle bound the sub-range used by playback, export and cut.
class VxThreeHandleSlider : public QWidget
{
    Q_OBJECT

public:
    enum Orientation { Vertical = 0, Horizontal = 1 };
    // Bit 0: centre handle shown; bit 1: start (and end) handle shown.
    enum HandleMode { CenterOnly = 1, StartCenterEnd = 3 };

    VxThreeHandleSlider(QWidget *parent, int orientation, int handleMode);

    void setHandleMode(int mode);
    int handleMode() const { return m_handleMode; }

    uint64_t minimum() const { return m_minimum; }
    uint64_t maximum() const { return m_maximum; }
    uint64_t lowerValue() const { return m_lowerValue; }
    uint64_t upperValue() const { return m_upperValue; }
    uint64_t centerValue() const { return m_centerValue; }

    // The range playback, export and cut work on: the sub-range in mode 3,
    // the whole recording otherwise.
    uint64_t rangeStart() const;
    uint64_t rangeEnd() const;

    QRect lowerHandleRect() const;
    QRect upperHandleRect() const;
    QRect centerHandleRect() const;

    QSize minimumSizeHint() const override;

public slots:
    void setLowerValue(uint64_t aLowerValue);
    void setUpperValue(uint64_t aUpperValue);
    void setCenterValue(uint64_t center_value);
    void setMinimum(uint64_t aMinimum);
    void setMaximum(uint64_t aMaximum);

signals:
    void lowerValueChanged(uint64_t aLowerValue);
    void upperValueChanged(uint64_t aUpperValue);
    void rangeChanged(uint64_t aMin, uint64_t aMax);
    void centerValueChanged(uint64_t center_value);
    void centerValueTrackClick(uint64_t center_value);
    void centerValueMove(uint64_t center_value);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    bool horizontal() const { return m_orientation == Horizontal; }
    int length() const;    // extent along the slider
    int thickness() const; // extent across it
    int along(const QPointF &pos) const;
    QRect makeRect(int start, int size, int across) const;
    double fraction(uint64_t value) const;
    // minimum + (pixels / (length - 12)) * span, saturated into the 64-bit range.
    uint64_t valueFromPixels(double pixels) const;
    uint64_t valueAt(int p) const { return valueFromPixels(double(p) - 13.0); }
    uint64_t clampToRange(uint64_t value) const;
    void keepCenterInRange();
    void applyColours(bool enabled);

    uint64_t m_minimum = 0;
    uint64_t m_maximum = UINT64_MAX;
    uint64_t m_span = UINT64_MAX;
    uint64_t m_lowerValue = 0;
    uint64_t m_upperValue = UINT64_MAX;
    uint64_t m_centerValue = UINT64_MAX / 2;
    int m_orientation = Horizontal;
    int m_handleMode = CenterOnly;

    bool m_lowerPressed = false;
    bool m_upperPressed = false;
    bool m_centerPressed = false;
    int64_t m_dragOffset = 0;

    static constexpr int kGrooveThickness = 10;
    static constexpr int kSideHandleWidth = 6;
    static constexpr int kSideHandleHeight = 27;
    static constexpr int kSideHandleRadius = 3;
    static constexpr int kCenterHandleSize = 20;
    static constexpr int kCenterHandleRadius = 10;
    static constexpr int kCenterOutlineWidth = 3;
    int m_valueBarRadius = 5;

    QColor m_grooveColour{208, 208, 208};
    QColor m_valueBarColour;
    QColor m_lowerHandleColour;
    QColor m_upperHandleColour;
    QColor m_centerFillColour;
    QColor m_centerOutlineColour;
};
