// References to objects, nodes, events, event groups and actions that no
// longer exist: cluster members, template mappings and the event
// processing policy.
#include <algorithm>
#include <cassert>
#include <map>
#include <string>
#include <vector>

#include "check/check_sets.h"
#include "check/check_stage.h"
#include "session/sql_exec.h"

namespace {

// Event codes with the top bit set are event group ids.
constexpr uint32_t kEventGroupFlag = 0x80000000;

// The rows of a table whose reference is missing, each asked about and
// repaired on its own. named: the question shows the name of the object
// that the row's first key is, looked up for a whole block at once.
struct DanglingReference {
  // Two walks are read whole and their rows asked about together in key
  // order, so that a failure of one table does not count the other's
  // rows as missing.
  MissingWalk walks[2];
  bool named = false;
  std::string (*question)(const KeyPair &row, const char *name);
  bool (*repair)(const KeyPair &row);
};

constexpr DanglingReference kClusterMembers = {
    .walks = {{.keys = "m.cluster_id,m.node_id",
               .table = "cluster_members m",
               .join = "LEFT JOIN nodes n ON n.id=m.node_id",
               .missing = "n.id IS NULL"}},
    .named = true,
    .question =
        [](const KeyPair &row, const char *name) {
          return Question("\rCluster object %s [%d] refers to non-existing node %d. Dereference?", name,
                          row.first, row.second);
        },
    .repair =
        [](const KeyPair &row) {
          return ExecRepair("DELETE FROM cluster_members WHERE cluster_id=%d AND node_id=%d", row.first,
                            row.second);
        },
};

constexpr DanglingReference kTemplateMappings = {
    .walks = {{.keys = "d.template_id,d.node_id",
               .table = "dct_node_map d",
               .join = "LEFT JOIN nodes n ON n.id=d.node_id",
               .missing = "n.id IS NULL"}},
    .named = true,
    .question =
        [](const KeyPair &row, const char *name) {
          return Question("\rTemplate %d [%s] mapped to non-existent node %d. Delete this mapping?",
                          row.first, name, row.second);
        },
    .repair =
        [](const KeyPair &row) {
          return ExecRepair("DELETE FROM dct_node_map WHERE template_id=%d AND node_id=%d", row.first,
                            row.second);
        },
};

// The policy's repairs delete a reference from all rules at once: every
// rule's row of it is read before the first repair and still asked
// about, in rule order, its repair then deleting nothing.
constexpr DanglingReference kPolicyReferences[] = {
    {
        .walks = {{.keys = "s.rule_id,s.object_id",
                   .table = "policy_source_list s",
                   .join = "LEFT JOIN object_properties p ON p.object_id=s.object_id",
                   .missing = "p.object_id IS NULL",
                   .inBlocks = false}},
        .question =
            [](const KeyPair &row, const char *) {
              return Question("\rInvalid object ID %d used in policy. Delete it from policy?", row.second);
            },
        .repair =
            [](const KeyPair &row) {
              return ExecRepair("DELETE FROM policy_source_list WHERE object_id=%d", row.second);
            },
    },
    {
        .walks = {{.keys = "e.rule_id,e.event_code",
                   .table = "policy_event_list e",
                   .join = "LEFT JOIN event_groups g ON g.id=e.event_code",
                   .missing = "g.id IS NULL",
                   .scope = "e.event_code<0",
                   .inBlocks = false},
                  {.keys = "e.rule_id,e.event_code",
                   .table = "policy_event_list e",
                   .join = "LEFT JOIN event_cfg c ON c.event_code=e.event_code",
                   .missing = "c.event_code IS NULL",
                   .scope = "e.event_code>=0",
                   .inBlocks = false}},
        .question =
            [](const KeyPair &row, const char *) {
              const uint32_t code = static_cast<uint32_t>(row.second);
              return Question("\rInvalid event%s ID 0x%08X referenced in policy. Delete this reference?",
                              (code & kEventGroupFlag) != 0 ? " group" : "", code);
            },
        .repair =
            [](const KeyPair &row) {
              return ExecRepair("DELETE FROM policy_event_list WHERE event_code=%d", row.second);
            },
    },
    {
        .walks = {{.keys = "a.rule_id,a.action_id",
                   .table = "policy_action_list a",
                   .join = "LEFT JOIN actions t ON t.action_id=a.action_id",
                   .missing = "t.action_id IS NULL",
                   .inBlocks = false}},
        .question =
            [](const KeyPair &row, const char *) {
              return Question("\rInvalid action ID %d referenced in policy. Delete this reference?",
                              row.second);
            },
        .repair =
            [](const KeyPair &row) {
              return ExecRepair("DELETE FROM policy_action_list WHERE action_id=%d", row.second);
            },
    },
};

void AskAbout(const DanglingReference &reference, const std::vector<KeyPair> &rows) {
  std::map<int32_t, std::string> names;
  if (reference.named) {
    std::vector<int32_t> objects;
    for (const KeyPair &row : rows) objects.push_back(row.first);
    names = LookupObjectNames(objects);
  }
  for (const KeyPair &row : rows) {
    auto name = names.find(row.first);
    OfferRepair(reference.question(row, name != names.end() ? name->second.c_str() : "<unknown>"),
                [&] { return reference.repair(row); });
  }
}

// Only rows whose reference is missing are read. When that query fails,
// every row in scope counts as missing its reference, as when each row's
// lookup fails.
void CheckReference(const DanglingReference &reference) {
  std::vector<KeyPair> rows;
  const MissingWalk &second = reference.walks[1];
  if (second.table == nullptr) {
    for (MissingReader reader(reference.walks[0]); reader.next(rows);) AskAbout(reference, rows);
    return;
  }
  assert(!reference.walks[0].inBlocks && !second.inBlocks);
  std::vector<KeyPair> firstRows, secondRows;
  MissingReader(reference.walks[0]).next(firstRows);
  MissingReader(second).next(secondRows);
  std::merge(firstRows.begin(), firstRows.end(), secondRows.begin(), secondRows.end(),
             std::back_inserter(rows), [](const KeyPair &a, const KeyPair &b) {
               return a.first != b.first ? a.first < b.first : a.second < b.second;
             });
  AskAbout(reference, rows);
}

}  // namespace

void CheckClusters() {
  BeginCheckStage("Checking cluster objects...");
  CheckReference(kClusterMembers);
  EndCheckStage();
}

void CheckTemplateNodeMapping() {
  BeginCheckStage("Checking template to node mapping...");
  CheckReference(kTemplateMappings);
  EndCheckStage();
}

void CheckEventPolicy() {
  BeginCheckStage("Checking event processing policy...");
  for (const DanglingReference &reference : kPolicyReferences) CheckReference(reference);
  EndCheckStage();
}
