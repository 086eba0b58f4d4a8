#include "widgets/vxthreehandleslider.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

const QColor kActiveColour("#004B6A");
const QColor kInactiveColour("#C7C7C7");
const QColor kCenterFillEnabled("#FFFFFF");
const QColor kCenterOutlineDisabled("#707070");

// Pixel positions are truncated to whole pixels; a NaN or huge value (only
// possible with a degenerate range) must not reach the int conversion.
int toPixel(double v)
{
    if (!(v > -1e9))
        return -1000000000;
    if (v > 1e9)
        return 1000000000;
    return int(v);
}

} // namespace

VxThreeHandleSlider::VxThreeHandleSlider(QWidget *parent, int orientation, int handleMode)
    : QWidget(parent), m_orientation(orientation), m_handleMode(handleMode)
{
    m_centerValue = (m_upperValue - m_lowerValue) / 2;
    m_valueBarRadius = m_handleMode == StartCenterEnd ? 0 : 5;
    if (horizontal()) {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        setMinimumHeight(30);
    } else {
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
        setMinimumWidth(30);
    }
    setMouseTracking(true);
    applyColours(isEnabled());
}

void VxThreeHandleSlider::setHandleMode(int mode)
{
    m_handleMode = mode;
    m_valueBarRadius = mode == StartCenterEnd ? 0 : 5;
    m_lowerValue = m_minimum;
    m_upperValue = m_maximum;
    update();
    emit lowerValueChanged(m_lowerValue);
    emit upperValueChanged(m_upperValue);
}

uint64_t VxThreeHandleSlider::rangeStart() const
{
    return m_handleMode == StartCenterEnd ? m_lowerValue : m_minimum;
}

uint64_t VxThreeHandleSlider::rangeEnd() const
{
    return m_handleMode == StartCenterEnd ? m_upperValue : m_maximum;
}

int VxThreeHandleSlider::length() const
{
    return horizontal() ? width() : height();
}

int VxThreeHandleSlider::thickness() const
{
    return horizontal() ? height() : width();
}

int VxThreeHandleSlider::along(const QPointF &pos) const
{
    return toPixel(horizontal() ? pos.x() : pos.y());
}

QRect VxThreeHandleSlider::makeRect(int start, int size, int across) const
{
    const int offset = (thickness() - across) / 2;
    return horizontal() ? QRect(start, offset, size, across) : QRect(offset, start, across, size);
}

double VxThreeHandleSlider::fraction(uint64_t value) const
{
    // A single-timestamp recording has no span; put everything at the start
    // instead of dividing by zero.
    if (m_span == 0)
        return 0.0;
    return (double(value) - double(m_minimum)) / double(m_span);
}

uint64_t VxThreeHandleSlider::valueFromPixels(double pixels) const
{
    const double track = double(length() - 12);
    if (track <= 0.0)
        return m_minimum;
    const double v = double(m_minimum) + pixels / track * double(m_span);
    if (!(v > 0.0))
        return 0;
    if (v >= 18446744073709551615.0)
        return UINT64_MAX;
    return uint64_t(v);
}

uint64_t VxThreeHandleSlider::clampToRange(uint64_t value) const
{
    return std::max(m_lowerValue, std::min(value, m_upperValue));
}

QRect VxThreeHandleSlider::lowerHandleRect() const
{
    const int w = length();
    const double track = m_handleMode == StartCenterEnd ? w - 32 : w - 12;
    return makeRect(toPixel(track * fraction(m_lowerValue)), kSideHandleWidth, kSideHandleHeight);
}

QRect VxThreeHandleSlider::upperHandleRect() const
{
    const int w = length();
    const int left = m_handleMode == StartCenterEnd
                         ? toPixel(double(w - 32) * fraction(m_upperValue)) + 26
                         : toPixel(double(w - 12) * fraction(m_upperValue)) + 6;
    return makeRect(left, kSideHandleWidth, kSideHandleHeight);
}

QRect VxThreeHandleSlider::centerHandleRect() const
{
    const int w = length();
    const int left = m_handleMode == StartCenterEnd
                         ? toPixel(double(w - 32) * fraction(m_centerValue)) + 6
                         : toPixel(double(w - 26) * fraction(m_centerValue)) + 3;
    return makeRect(left, kCenterHandleSize, kCenterHandleSize);
}

QSize VxThreeHandleSlider::minimumSizeHint() const
{
    return horizontal() ? QSize(12, 6) : QSize(6, 12);
}

void VxThreeHandleSlider::setLowerValue(uint64_t aLowerValue)
{
    uint64_t v = aLowerValue;
    v = std::min(v, m_handleMode == StartCenterEnd ? m_centerValue : m_maximum);
    m_lowerValue = std::max(v, m_minimum);
    update();
}

void VxThreeHandleSlider::setUpperValue(uint64_t aUpperValue)
{
    uint64_t v = aUpperValue;
    v = std::max(v, m_handleMode == StartCenterEnd ? m_centerValue : m_minimum);
    m_upperValue = std::min(v, m_maximum);
    update();
}

void VxThreeHandleSlider::setCenterValue(uint64_t center_value)
{
    m_centerValue = clampToRange(center_value);
    update();
}

void VxThreeHandleSlider::setMinimum(uint64_t aMinimum)
{
    m_minimum = aMinimum;
    // The range arrives as two calls; in between it may be inverted for a
    // moment, which must not wrap the span around.
    m_span = m_maximum >= m_minimum ? m_maximum - m_minimum : 0;
    m_lowerValue = aMinimum;
    keepCenterInRange();
    update();
    emit rangeChanged(m_minimum, m_maximum);
}

void VxThreeHandleSlider::setMaximum(uint64_t aMaximum)
{
    m_maximum = aMaximum;
    m_span = m_maximum >= m_minimum ? m_maximum - m_minimum : 0;
    m_upperValue = aMaximum;
    keepCenterInRange();
    update();
    emit rangeChanged(m_minimum, m_maximum);
}

void VxThreeHandleSlider::keepCenterInRange()
{
    // A new range belongs to a newly opened recording, which plays from its
    // start; a position left over from the previous one would put the centre
    // handle off the track until the first frame arrives.
    if (m_centerValue < m_lowerValue || m_centerValue > m_upperValue)
        m_centerValue = m_lowerValue;
}

void VxThreeHandleSlider::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);

    const QRectF groove = makeRect(0, length(), kGrooveThickness);
    painter.setBrush(m_grooveColour);
    painter.drawRoundedRect(groove, 5, 5);

    QRectF valueBar = groove;
    if (m_handleMode == StartCenterEnd) {
        const QRect lower = lowerHandleRect();
        const QRect upper = upperHandleRect();
        if (m_handleMode & 2) {
            painter.setBrush(m_lowerHandleColour);
            painter.drawRoundedRect(lower, kSideHandleRadius, kSideHandleRadius);
        }
        painter.setBrush(m_upperHandleColour);
        painter.drawRoundedRect(upper, kSideHandleRadius, kSideHandleRadius);
        if (horizontal()) {
            valueBar.setLeft(lower.x() + lower.width());
            valueBar.setRight(upper.x() - 0.5);
        } else {
            valueBar.setTop(lower.y() + lower.height());
            valueBar.setBottom(upper.y() - 0.5);
        }
    }
    painter.setBrush(m_valueBarColour);
    painter.drawRoundedRect(valueBar, m_valueBarRadius, m_valueBarRadius);

    if (m_handleMode & 1) {
        QPen pen(m_centerOutlineColour, kCenterOutlineWidth, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
        painter.setPen(pen);
        painter.setBrush(m_centerFillColour);
        painter.drawRoundedRect(centerHandleRect(), kCenterHandleRadius, kCenterHandleRadius);
    }
}

void VxThreeHandleSlider::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    const int p = along(event->position());
    const QRect center = centerHandleRect();
    const QRect lower = lowerHandleRect();
    const QRect upper = upperHandleRect();
    // The side handles are only drawn, and so only grabbable, in mode 3; in
    // mode 1 a press at the very ends of the groove seeks like any other.
    const bool sideHandles = m_handleMode == StartCenterEnd;

    const auto leftEdge = [this](const QRect &r) { return horizontal() ? r.x() : r.y(); };
    if ((m_handleMode & 1) && center.contains(pos)) {
        m_centerPressed = true;
        m_dragOffset = int64_t(p) - 13 - leftEdge(center);
    } else if (sideHandles && lower.contains(pos)) {
        m_lowerPressed = true;
        m_dragOffset = int64_t(p) - 3 - leftEdge(lower);
    } else if (sideHandles && upper.contains(pos)) {
        m_upperPressed = true;
        m_dragOffset = int64_t(p) - 3 - leftEdge(upper);
    } else {
        m_centerValue = clampToRange(valueAt(p));
        update();
        emit centerValueTrackClick(m_centerValue);
    }
    event->accept();
}

void VxThreeHandleSlider::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const int64_t p = along(event->position());
    const auto leftEdge = [this](const QRect &r) { return int64_t(horizontal() ? r.x() : r.y()); };
    const int64_t centerLeft = leftEdge(centerHandleRect());

    if (m_lowerPressed && (m_handleMode & 2)) {
        if (p < 0)
            return;
        uint64_t value;
        if (p - m_dragOffset + 3 > centerLeft)
            value = m_centerValue;
        else
            value = valueFromPixels(double(p - m_dragOffset - 3));
        setLowerValue(value);
        emit lowerValueChanged(m_lowerValue);
    } else if (m_upperPressed && m_handleMode == StartCenterEnd) {
        uint64_t value;
        if (p - m_dragOffset < centerLeft + 26)
            value = m_centerValue;
        else
            value = valueFromPixels(double(p - m_dragOffset - 9));
        setUpperValue(value);
        emit upperValueChanged(m_upperValue);
    } else if (m_centerPressed && (m_handleMode & 1)) {
        if (m_handleMode == StartCenterEnd) {
            if (p > leftEdge(upperHandleRect()) || p < leftEdge(lowerHandleRect()) + 6) {
                m_centerValue = clampToRange(m_centerValue);
                update();
                return;
            }
        } else if (p < 0 || p > length()) {
            return;
        }
        m_centerValue = clampToRange(valueFromPixels(double(p - m_dragOffset) - 13.0));
        update();
        emit centerValueMove(m_centerValue);
    }
}

void VxThreeHandleSlider::mouseReleaseEvent(QMouseEvent *event)
{
    m_lowerPressed = false;
    m_upperPressed = false;
    m_centerPressed = false;
    QWidget::mouseReleaseEvent(event);
}

void VxThreeHandleSlider::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange) {
        applyColours(isEnabled());
        update();
    }
    QWidget::changeEvent(event);
}

void VxThreeHandleSlider::applyColours(bool enabled)
{
    m_valueBarColour = enabled ? kActiveColour : kInactiveColour;
    m_lowerHandleColour = m_valueBarColour;
    m_upperHandleColour = m_valueBarColour;
    m_centerFillColour = enabled ? kCenterFillEnabled : kInactiveColour;
    m_centerOutlineColour = enabled ? kActiveColour : kCenterOutlineDisabled;
}
