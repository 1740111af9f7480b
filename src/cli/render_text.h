#pragma once
// Every command's report as text: what goes to stdout (the data, a line per device of
// a survey, per query of watch), the lines that close a sweep on stderr and the
// progress line's texts. Returns "" where a command prints nothing (it failed: its
// messages say why).

#include <string>

#include "cli/results.h"
#include "cli/verdict.h"

namespace ornat::cli {

// A number with `decimals` digits after the point, whatever the locale.
std::string Decimals(double value, int decimals);

// The exchange's log lines, as the window's log pane shows them (--verbose).
std::string LogText(const ExchangeRecord& record);
// "3 T2MIN (- УФ-2 - MIN)", or "none".
std::string TacticText(const ShownParameters& shown);

std::string Text(const PortsResult& result);
std::string Text(const QueryResult& result);
std::string Text(const WatchLine& line);
std::string Text(const WatchSummary& summary);
std::string Text(const TacticResult& result);
std::string Text(const TestResult& result);
std::string Text(const ResetAlarmResult& result);
std::string Text(const AddressResult& result);
std::string Text(const BaudResult& result);
std::string Text(const ResetInterfaceResult& result);
std::string Text(const ServiceResult& result);
std::string Text(const SearchResult& result);

// One device as the survey prints it: address, speed, what it is, and how its answer
// came when that was not plainly in its own window.
std::string SurveyLine(const SurveyDevice& device);
// One window's bytes that are no device's answer (--verbose).
std::string SurveyNoiseText(const SurveyNoise& noise);

// What closes a search or a survey on stderr after its data, in order; then its summary.
Messages SearchNotes(const SearchResult& result);
std::string SearchSummary(const SearchResult& result);
Messages SurveyNotes(const SurveyResult& result, bool verbose);
std::string SurveySummary(const SurveyResult& result);

// The progress lines: the search at `probed` (0: starting), the survey where it is.
std::string SearchProgress(int probed, const std::string& speed, int delay_ms);
std::string SurveyProgress(const BusSurvey::Progress& progress, std::size_t found);

}  // namespace ornat::cli
