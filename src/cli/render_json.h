#pragma once
// Every command's report as one JSON document (one line; for watch one object a line),
// through the journal's JSON writer, whose numbers never depend on the locale and whose
// strings are always valid UTF-8. A document of a command that ran exchanges holds
// its head (command, port, baud, address), "outcome" and "exit" from one verdict, its
// "exchanges", then the command's own members, in this order.

#include <string>

#include "cli/results.h"

namespace ornat::cli {

std::string Document(const PortsResult& result);
std::string Document(const QueryResult& result);
std::string Document(const WatchLine& line);
std::string Document(const TacticResult& result);
std::string Document(const TestResult& result);
std::string Document(const ResetAlarmResult& result);
std::string Document(const AddressResult& result);
std::string Document(const BaudResult& result);
std::string Document(const ResetInterfaceResult& result);
std::string Document(const ServiceResult& result);
std::string Document(const SearchResult& result);
std::string Document(const SurveyResult& result);
std::string Document(const LineInUseResult& result);

}  // namespace ornat::cli
