#pragma once

// How late the GUI thread's event loop runs: a 1 ms precise timer whose lateness
// is recorded while measuring. Shared by the window benchmarks, with the
// percentile helper they report through.
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <vector>

namespace vxbench {

using Clock = std::chrono::steady_clock;

inline double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// p in [0, 1]; 0 for no values.
inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

class GuiStallMeter
{
public:
    explicit GuiStallMeter(QObject *context)
    {
        m_tick.setTimerType(Qt::PreciseTimer);
        m_tick.setInterval(1);
        QObject::connect(&m_tick, &QTimer::timeout, context, [this] {
            const Clock::time_point now = Clock::now();
            if (m_measuring && m_last != Clock::time_point{})
                m_stalls.push_back(std::max(0.0, ms(now - m_last) - 1.0));
            m_last = now;
        });
    }
    void start() { m_tick.start(); }
    void stop() { m_tick.stop(); }
    // Only stalls while measuring count.
    void setMeasuring(bool on) { m_measuring = on; }
    const std::vector<double> &stalls() const { return m_stalls; }

private:
    QTimer m_tick;
    Clock::time_point m_last{};
    bool m_measuring = false;
    std::vector<double> m_stalls;
};

} // namespace vxbench
