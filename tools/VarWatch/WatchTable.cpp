#include "WatchTable.h"

#include "ValueText.h"

#include "MOOSLIB/MOOSGenLibGlobalHelper.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace
{
const double kRateWindow = 5.0;
// Bounds the memory of a variable updated very fast; the rate is then taken
// over the span these arrivals cover.
const std::size_t kMaxRecent = 5000;

const char* const kHeadings[] = {"NAME", "VALUE", "SOURCE", "TIME", "AGE", "RATE"};
const std::size_t kColumns = 6;
const std::size_t kValueColumn = 1;
// Widest a column other than the value may grow.
const std::size_t kMaxCellWidth = 32;

// The last second a clock can show: 9999-12-31 23:59:59 UTC. A time beyond
// it, or before the epoch, does not fit the conversion and is shown as the
// number it is.
const double kLastClockSecond = 253402300799.0;

std::string ClockText(double dfTime)
{
    std::tm Local = {};
    const std::time_t nSeconds = static_cast<std::time_t>(
        std::isfinite(dfTime) && dfTime > 0.0 && dfTime <= kLastClockSecond ? dfTime : 0.0);
    if (nSeconds == 0 || localtime_r(&nSeconds, &Local) == nullptr)
        return MOOSFormat("%g", dfTime);
    const int nMs = std::min(999, static_cast<int>((dfTime - double(nSeconds)) * 1000.0));
    return MOOSFormat("%02d:%02d:%02d.%03d", Local.tm_hour, Local.tm_min, Local.tm_sec, nMs);
}

std::string Cut(const std::string& sText, std::size_t nWidth)
{
    if (sText.size() <= nWidth)
        return sText;
    return nWidth < 3 ? sText.substr(0, nWidth) : sText.substr(0, nWidth - 3) + "...";
}

std::string Padded(const std::string& sText, std::size_t nWidth)
{
    return sText + std::string(nWidth > sText.size() ? nWidth - sText.size() : 0, ' ');
}
} // namespace

void CWatchTable::Update(const CMOOSMsg& Msg, double dfNow)
{
    auto Inserted = m_Rows.emplace(Msg.GetKey(), Row());
    Row& R = Inserted.first->second;
    if (Inserted.second)
        R.dfFirstArrival = dfNow;
    R.Latest = Msg;
    R.dfLastArrival = dfNow;
    R.Recent.push_back(dfNow);
    while (R.Recent.size() > kMaxRecent || R.Recent.front() <= dfNow - kRateWindow)
        R.Recent.pop_front();
}

std::string CWatchTable::Line(const CMOOSMsg& Msg)
{
    return NotificationLine(Msg.GetTime(), Msg);
}

std::string CWatchTable::Lines() const
{
    std::string sLines;
    for (const auto& Named : m_Rows)
        sLines += Line(Named.second.Latest);
    return sLines;
}

double CWatchTable::Rate(const std::string& sName, double dfNow) const
{
    auto it = m_Rows.find(sName);
    if (it == m_Rows.end())
        return 0.0;
    const Row& R = it->second;
    const std::size_t nInWindow = static_cast<std::size_t>(
        std::count_if(R.Recent.begin(), R.Recent.end(),
                      [&](double dfArrival) { return dfArrival > dfNow - kRateWindow; }));
    double dfSpan = std::min(kRateWindow, dfNow - R.dfFirstArrival);
    if (R.Recent.size() == kMaxRecent)
        dfSpan = dfNow - R.Recent.front();
    return double(nInWindow) / std::max(1.0, dfSpan);
}

std::vector<std::string> CWatchTable::RowCells(const std::string& sName, const Row& R,
                                               double dfNow) const
{
    const std::string sSource = R.Latest.GetSource().empty() ? "-" : R.Latest.GetSource();
    return {EscapeControlBytes(sName),
            ValueText(R.Latest),
            EscapeControlBytes(sSource),
            ClockText(R.Latest.GetTime()),
            MOOSFormat("%.1fs", std::max(0.0, dfNow - R.dfLastArrival)),
            MOOSFormat("%.1f/s", Rate(sName, dfNow))};
}

std::string CWatchTable::Table(double dfNow, std::size_t nWidth) const
{
    std::vector<std::vector<std::string>> Rows(
        1, std::vector<std::string>(kHeadings, kHeadings + kColumns));
    for (const auto& Named : m_Rows)
        Rows.push_back(RowCells(Named.first, Named.second, dfNow));
    std::vector<std::size_t> Widths(kColumns, 0);
    for (const auto& Cells : Rows)
        for (std::size_t c = 0; c < kColumns; ++c)
            Widths[c] = std::max(Widths[c], Cells[c].size());
    // The value may take what the other columns and their gaps leave.
    std::size_t nOthers = 0;
    for (std::size_t c = 0; c < kColumns; ++c)
    {
        if (c == kValueColumn)
            continue;
        Widths[c] = std::min(Widths[c], kMaxCellWidth);
        nOthers += Widths[c] + 2;
    }
    const std::size_t nValueRoom = nWidth > nOthers + 8 ? nWidth - nOthers : 8;
    Widths[kValueColumn] = std::min(Widths[kValueColumn], nValueRoom);
    std::string sTable;
    for (const auto& Cells : Rows)
    {
        std::string sRow;
        for (std::size_t c = 0; c < kColumns; ++c)
            sRow += Padded(Cut(Cells[c], Widths[c]), Widths[c] + (c + 1 < kColumns ? 2 : 0));
        sRow.erase(sRow.find_last_not_of(' ') + 1);
        sTable += Cut(sRow, nWidth) + "\n";
    }
    return sTable;
}
