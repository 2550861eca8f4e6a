// References of templates and of the event processing policy to objects,
// events, event groups and actions that no longer exist.
#include "check/check_stage.h"
#include "session/sql_exec.h"

namespace {

// Event codes with the top bit set are event group ids.
constexpr uint32_t kEventGroupFlag = 0x80000000;

void CheckPolicySources() {
  ResultHolder sources(SelectSql("SELECT object_id FROM policy_source_list"));
  RowLookup object("SELECT object_id FROM object_properties WHERE object_id=%d");
  for (int i = 0; i < sources.rows(); i++) {
    int32_t id = IdAt(sources.get(), i, 0);
    if (object.found(id)) continue;
    if (ReportDefect("\rInvalid object ID %d used in policy. Delete it from policy?", id) &&
        ExecRepair("DELETE FROM policy_source_list WHERE object_id=%d", id))
      ErrorsFixed++;
  }
}

void CheckPolicyEvents() {
  ResultHolder events(SelectSql("SELECT event_code FROM policy_event_list"));
  RowLookup group("SELECT id FROM event_groups WHERE id=%d");
  RowLookup event("SELECT event_code FROM event_cfg WHERE event_code=%d");
  for (int i = 0; i < events.rows(); i++) {
    uint32_t code = DBGetFieldULong(events.get(), i, 0);
    bool isGroup = (code & kEventGroupFlag) != 0;
    int32_t value = static_cast<int32_t>(code);
    if ((isGroup ? group : event).found(value)) continue;
    if (ReportDefect("\rInvalid event%s ID 0x%08X referenced in policy. Delete this reference?",
                     isGroup ? " group" : "", code) &&
        ExecRepair("DELETE FROM policy_event_list WHERE event_code=%d", value))
      ErrorsFixed++;
  }
}

void CheckPolicyActions() {
  ResultHolder actions(SelectSql("SELECT action_id FROM policy_action_list"));
  RowLookup action("SELECT action_id FROM actions WHERE action_id=%d");
  for (int i = 0; i < actions.rows(); i++) {
    int32_t id = IdAt(actions.get(), i, 0);
    if (action.found(id)) continue;
    if (ReportDefect("\rInvalid action ID %d referenced in policy. Delete this reference?", id) &&
        ExecRepair("DELETE FROM policy_action_list WHERE action_id=%d", id))
      ErrorsFixed++;
  }
}

}  // namespace

void CheckTemplateNodeMapping() {
  BeginCheckStage("Checking template to node mapping...");
  ResultHolder mappings(SelectSql("SELECT template_id,node_id FROM dct_node_map ORDER BY template_id"));
  RowLookup node("SELECT id FROM nodes WHERE id=%d");
  RowLookup templateName("SELECT name FROM object_properties WHERE object_id=%d");
  for (int i = 0; i < mappings.rows(); i++) {
    int32_t templateId = IdAt(mappings.get(), i, 0);
    int32_t nodeId = IdAt(mappings.get(), i, 1);
    if (node.found(nodeId)) continue;
    char name[kNameBufferSize];
    LookupObjectName(templateName, templateId, name);
    if (ReportDefect("\rTemplate %d [%s] mapped to non-existent node %d. Delete this mapping?", templateId,
                     name, nodeId) &&
        ExecRepair("DELETE FROM dct_node_map WHERE template_id=%d AND node_id=%d", templateId, nodeId))
      ErrorsFixed++;
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
