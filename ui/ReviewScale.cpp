// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ReviewScale.h"

#include <QDateTime>

#include <cmath>
#include <cstdlib>

namespace review {

double roundStep(double span, double pixels, double minGap)
{
    if (span <= 0 || pixels <= 0) return 1.0;
    const double least = span * minGap / pixels;
    const double power = std::pow(10.0, std::floor(std::log10(least)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= least) return m * power;
    return 10.0 * power;
}

std::vector<double> ticks(double lo, double hi, double step)
{
    std::vector<double> out;
    if (step <= 0) return out;
    for (double t = std::ceil(lo / step) * step; t <= hi + step * 1e-9 && out.size() < 200; t += step)
        out.push_back(std::abs(t) < step * 1e-9 ? 0.0 : t);
    return out;
}

platform::Micros timeStep(platform::Micros span, double pixels, double minGap)
{
    static const platform::Micros steps[] = {1,
                                             2,
                                             5,
                                             10,
                                             20,
                                             50,
                                             100,
                                             200,
                                             500,
                                             1'000,
                                             2'000,
                                             5'000,
                                             10'000,
                                             20'000,
                                             50'000,
                                             100'000,
                                             200'000,
                                             500'000,
                                             1'000'000,
                                             2'000'000,
                                             5'000'000,
                                             10'000'000,
                                             15'000'000,
                                             30'000'000,
                                             60'000'000,
                                             120'000'000,
                                             300'000'000,
                                             600'000'000,
                                             900'000'000,
                                             1'800'000'000,
                                             3'600'000'000,
                                             7'200'000'000,
                                             10'800'000'000,
                                             21'600'000'000,
                                             43'200'000'000,
                                             86'400'000'000};
    const double least = double(span) * minGap / std::max(pixels, 1.0);
    for (platform::Micros s : steps)
        if (double(s) >= least) return s;
    return steps[std::size(steps) - 1];
}

namespace {
// Seconds east of UTC at a time, so that hours fall on the local clock's hours.
platform::Micros localOffset(platform::Micros t)
{
    return platform::Micros(QDateTime::fromMSecsSinceEpoch(t / 1000).offsetFromUtc()) * 1'000'000;
}
} // namespace

std::vector<platform::Micros> timeTicks(platform::Micros from, platform::Micros to, platform::Micros step)
{
    std::vector<platform::Micros> out;
    if (step <= 0 || to < from) return out;
    const platform::Micros offset = localOffset(from);
    platform::Micros t = ((from + offset) / step) * step - offset;
    if (t < from) t += step;
    for (; t <= to && out.size() < 200; t += step) out.push_back(t);
    return out;
}

QString clockLabel(platform::Micros t, platform::Micros step)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(t / 1000);
    QString text = local.toString("HH:mm:ss");
    const int micros = int(((t % 1'000'000) + 1'000'000) % 1'000'000);
    if (step < 1'000) return text + QString(".%1").arg(micros, 6, 10, QChar('0'));
    if (step < 10'000) return text + QString(".%1").arg(micros / 1000, 3, 10, QChar('0'));
    if (step < 1'000'000) return text + QString(".%1").arg(micros / 10'000, 2, 10, QChar('0'));
    return text;
}

QString elapsedLabel(platform::Micros t, platform::Micros start, platform::Micros step)
{
    const platform::Micros d = t - start;
    const char* sign = d < 0 ? "−" : "+";
    const platform::Micros a = std::llabs(d);
    const qint64 seconds = a / 1'000'000, micros = a % 1'000'000;
    QString text = seconds >= 3600 ? QString("%1:%2:%3")
                                         .arg(seconds / 3600)
                                         .arg(seconds / 60 % 60, 2, 10, QChar('0'))
                                         .arg(seconds % 60, 2, 10, QChar('0'))
                                   : QString("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
    if (step < 1'000)
        text += QString(".%1").arg(micros, 6, 10, QChar('0'));
    else if (step < 10'000)
        text += QString(".%1").arg(micros / 1000, 3, 10, QChar('0'));
    else if (step < 1'000'000)
        text += QString(".%1").arg(micros / 10'000, 2, 10, QChar('0'));
    return sign + text;
}

QString durationLabel(platform::Micros d)
{
    const double a = double(std::llabs(d));
    if (a < 1'000) return QString("%1 µs").arg(d);
    if (a < 1'000'000) return QString("%1 ms").arg(double(d) / 1e3, 0, 'f', 3);
    return QString("%1 s").arg(double(d) / 1e6, 0, 'f', a < 60e6 ? 4 : 1);
}

ValueUnit unitFromStored(const std::map<std::string, std::string>& settings)
{
    const auto found = settings.find(kUnitSetting);
    return found != settings.end() && found->second == "m/s2" ? ValueUnit::metresPerSecondSquared : ValueUnit::g;
}

std::string unitToStored(ValueUnit unit)
{
    return unit == ValueUnit::g ? "g" : "m/s2";
}

double unitFactor(ValueUnit unit)
{
    return unit == ValueUnit::g ? 1.0 : kStandardGravity;
}

QString unitName(ValueUnit unit)
{
    return unit == ValueUnit::g ? QString("g") : QString("m/s²");
}

const std::vector<double>& fullScales(ValueUnit unit)
{
    static const std::vector<double> g{0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 16};
    static const std::vector<double> metric{0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100, 160};
    return unit == ValueUnit::g ? g : metric;
}

QString fullScaleLabel(ValueUnit unit, int step)
{
    return QString("±%1 %2").arg(fullScales(unit)[std::size_t(step)]).arg(unitName(unit));
}

} // namespace review
