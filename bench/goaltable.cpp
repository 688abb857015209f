#include "goaltable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace brumlis::bench {

namespace {

std::string number(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// A bound as it was written down: 30, 0.8, 1024; a computed one to four digits.
std::string bound(double value) {
    char text[64];
    if (value == std::round(value))
        std::snprintf(text, sizeof text, "%.0f", value);
    else
        std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

std::string withUnit(std::string text, const char* unit) {
    if (*unit)
        text += std::string(" ") + unit;
    return text;
}

// Columns are padded by characters, not bytes: "är" is three bytes wide.
std::size_t width(const std::string& text) {
    return std::size_t(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xc0) != 0x80;
    }));
}

std::string padRight(const std::string& text, std::size_t to) {
    return text + std::string(to - std::min(to, width(text)), ' ');
}

std::string padLeft(const std::string& text, std::size_t to) {
    return std::string(to - std::min(to, width(text)), ' ') + text;
}

} // namespace

bool Goal::metBy(double value) const {
    switch (m_kind) {
    case Kind::AtMost:
        return value <= m_bound;
    case Kind::AtLeast:
        return value >= m_bound;
    case Kind::Near:
        return std::fabs(value - m_bound) <= m_tolerance;
    }
    return false;
}

std::string Goal::text(const char* unit) const {
    switch (m_kind) {
    case Kind::AtMost:
        return withUnit("<= " + bound(m_bound), unit);
    case Kind::AtLeast:
        return withUnit(">= " + bound(m_bound), unit);
    case Kind::Near:
        if (m_tolerance == 0)
            return withUnit("= " + bound(m_bound), unit);
        return withUnit(bound(m_bound) + " +- " + bound(m_tolerance), unit);
    }
    return {};
}

void GoalTable::goal(std::string figure, std::optional<double> measured, Unit unit, Goal goal,
                     std::string note) {
    m_rows.push_back({std::move(figure), measured, unit, goal, std::move(note)});
}

void GoalTable::report(std::string figure, std::optional<double> measured, Unit unit,
                       std::string note) {
    m_rows.push_back({std::move(figure), measured, unit, std::nullopt, std::move(note)});
}

bool GoalTable::allMet() const {
    return std::all_of(m_rows.begin(), m_rows.end(), [](const Row& row) {
        return !row.goal || !row.goal->held() || (row.measured && row.goal->metBy(*row.measured));
    });
}

bool GoalTable::print() const {
    struct Cells {
        std::string figure, value, unit, goal, verdict, note;
    };
    std::vector<Cells> cells;
    for (const Row& row : m_rows) {
        Cells c{row.figure, "-", "", "-", "", row.note};
        if (row.measured) {
            c.value = number(*row.measured, row.unit.decimals);
            c.unit = row.unit.symbol;
        }
        if (row.goal) {
            c.goal = row.goal->text(row.unit.symbol);
            if (!row.goal->held())
                c.verdict = "(not held)";
            else if (!row.measured)
                c.verdict = "MISSED (not measured)";
            else
                c.verdict = row.goal->metBy(*row.measured) ? "met" : "MISSED";
        }
        cells.push_back(std::move(c));
    }

    std::size_t figureWidth = width("figure"), valueWidth = 0, unitWidth = 0,
                goalWidth = width("goal"), verdictWidth = 0;
    for (const Cells& c : cells) {
        figureWidth = std::max(figureWidth, width(c.figure));
        valueWidth = std::max(valueWidth, width(c.value));
        unitWidth = std::max(unitWidth, width(c.unit));
        goalWidth = std::max(goalWidth, width(c.goal));
        verdictWidth = std::max(verdictWidth, width(c.verdict));
    }
    const std::size_t measuredWidth = std::max(width("measured"), valueWidth + 1 + unitWidth);
    valueWidth = measuredWidth - 1 - unitWidth;

    std::printf("\n");
    if (!m_title.empty())
        std::printf("%s\n", m_title.c_str());
    std::printf("%s  %s  %s\n", padRight("figure", figureWidth).c_str(),
                padLeft("measured", measuredWidth).c_str(), padLeft("goal", goalWidth).c_str());
    for (const Cells& c : cells) {
        std::string line = padRight(c.figure, figureWidth) + "  " + padLeft(c.value, valueWidth) +
                           " " + padRight(c.unit, unitWidth) + "  " + padLeft(c.goal, goalWidth);
        if (!c.note.empty())
            line += "  " + padRight(c.verdict, verdictWidth) + "  " + c.note;
        else if (!c.verdict.empty())
            line += "  " + c.verdict;
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    return allMet();
}

} // namespace brumlis::bench
