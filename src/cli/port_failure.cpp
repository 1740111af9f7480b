#include "cli/port_failure.h"

#include "cli/port_problem.h"
#include "serial/comport.h"

namespace ornat::cli {

namespace {

// What is wrong with the port: the programs found holding it, or what the platform's
// error number of the failed open or write means.
PortProblem PortProblemOf(const ExchangeRecord& record) {
  if (!record.failure_holders.empty()) {
    std::string text = "held by ";
    for (std::size_t i = 0; i < record.failure_holders.size(); ++i) {
      const PortHolder& holder = record.failure_holders[i];
      if (i > 0) text += ", ";
      const std::string pid = "pid " + std::to_string(holder.pid);
      text += holder.name.empty() ? pid : holder.name + " (" + pid + ")";
    }
    return {text, false};
  }
  PortProblem problem = DescribePortProblem(record.failure_code, record.failure_errno);
  if (problem.text.empty()) problem.text = record.failure;
  return problem;
}

}  // namespace

std::string PortFailureText(const ExchangeRecord& record) {
  const std::string port = "the port \"" + record.port + "\"";
  const PortProblem problem = PortProblemOf(record);
  if (record.failure_code == CError_WriteFailed)
    return "the request could not be written to " + port + ": " + problem.text;
  return port + " cannot be opened" + (problem.text.empty() ? "" : ": " + problem.text) +
         (problem.list_hint ? "; \"ornat-cli ports\" lists the ports" : "");
}

}  // namespace ornat::cli
