// References of templates and of the event processing policy to objects,
// events, event groups and actions that no longer exist.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "check/check_sets.h"
#include "check/check_stage.h"
#include "session/sql_exec.h"

namespace {

// Event codes with the top bit set are event group ids.
constexpr uint32_t kEventGroupFlag = 0x80000000;

// Every rule's row of a missing reference is walked, in rule order: a
// repair deletes the reference from all rules at once, and the rows it
// took from later rules are still asked about, their repair then deleting
// nothing.
std::vector<KeyPair> ReadAll(MissingReader reader) {
  std::vector<KeyPair> rows;
  reader.next(rows);
  return rows;
}

void CheckPolicySources() {
  for (const KeyPair &row : ReadAll(MissingReader({"s.rule_id", "s.object_id", "policy_source_list s",
                                                   "LEFT JOIN object_properties p ON p.object_id=s.object_id",
                                                   "p.object_id IS NULL", "", false}))) {
    if (ReportDefect("\rInvalid object ID %d used in policy. Delete it from policy?", row.second) &&
        ExecRepair("DELETE FROM policy_source_list WHERE object_id=%d", row.second))
      ErrorsFixed++;
  }
}

// Group codes and event codes are looked up in two tables, one query each,
// so that a failure of one table does not count the other's codes as
// missing; their rows are then walked together in rule order.
void CheckPolicyEvents() {
  std::vector<KeyPair> groups = ReadAll(MissingReader({"e.rule_id", "e.event_code", "policy_event_list e",
                                                       "LEFT JOIN event_groups g ON g.id=e.event_code",
                                                       "g.id IS NULL", "e.event_code<0", false}));
  std::vector<KeyPair> events = ReadAll(MissingReader({"e.rule_id", "e.event_code", "policy_event_list e",
                                                       "LEFT JOIN event_cfg c ON c.event_code=e.event_code",
                                                       "c.event_code IS NULL", "e.event_code>=0", false}));
  std::vector<KeyPair> rows;
  std::merge(groups.begin(), groups.end(), events.begin(), events.end(), std::back_inserter(rows),
             [](const KeyPair &a, const KeyPair &b) {
               return a.first != b.first ? a.first < b.first : a.second < b.second;
             });
  for (const KeyPair &row : rows) {
    const uint32_t code = static_cast<uint32_t>(row.second);
    if (ReportDefect("\rInvalid event%s ID 0x%08X referenced in policy. Delete this reference?",
                     (code & kEventGroupFlag) != 0 ? " group" : "", code) &&
        ExecRepair("DELETE FROM policy_event_list WHERE event_code=%d", row.second))
      ErrorsFixed++;
  }
}

void CheckPolicyActions() {
  for (const KeyPair &row : ReadAll(MissingReader({"a.rule_id", "a.action_id", "policy_action_list a",
                                                   "LEFT JOIN actions t ON t.action_id=a.action_id",
                                                   "t.action_id IS NULL", "", false}))) {
    if (ReportDefect("\rInvalid action ID %d referenced in policy. Delete this reference?", row.second) &&
        ExecRepair("DELETE FROM policy_action_list WHERE action_id=%d", row.second))
      ErrorsFixed++;
  }
}

}  // namespace

// Only mappings whose node is gone are read. When that query fails, every
// mapping counts as referring to a missing node, as when each mapping's
// lookup fails.
void CheckTemplateNodeMapping() {
  BeginCheckStage("Checking template to node mapping...");
  MissingReader mappings({"d.template_id", "d.node_id", "dct_node_map d",
                          "LEFT JOIN nodes n ON n.id=d.node_id", "n.id IS NULL", "", true});
  std::vector<KeyPair> rows;
  while (mappings.next(rows)) {
    std::vector<int32_t> templates;
    for (const KeyPair &row : rows) templates.push_back(row.first);
    std::map<int32_t, std::string> names = LookupObjectNames(templates);
    for (const KeyPair &row : rows) {
      auto name = names.find(row.first);
      if (ReportDefect("\rTemplate %d [%s] mapped to non-existent node %d. Delete this mapping?", row.first,
                       name != names.end() ? name->second.c_str() : "<unknown>", row.second) &&
          ExecRepair("DELETE FROM dct_node_map WHERE template_id=%d AND node_id=%d", row.first, row.second))
        ErrorsFixed++;
    }
  }
  EndCheckStage();
}

void CheckEventPolicy() {
  BeginCheckStage("Checking event processing policy...");
  CheckPolicySources();
  CheckPolicyEvents();
  CheckPolicyActions();
  EndCheckStage();
}
