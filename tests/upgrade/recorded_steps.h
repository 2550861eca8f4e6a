// Upgrade steps run on a statement-recording connection of a dialect that
// cannot run here (SQL Server, Oracle, the sixth engine), so that a test
// can hold what they send against the dialect's texts.
#pragma once

#include <string>
#include <vector>

#include "support/captured_output.h"
#include "support/scoped_state.h"
#include "upgrade/steps.h"

namespace upgradetest {

using Statements = std::vector<std::string>;

class RecordedStepTest : public tvtest::RecordedDialectTest {
 protected:
  // Runs the step that starts at version on the recording made current
  // by use(); returns its result and keeps what it printed in printed.
  int runStep(int version) {
    tvtest::CapturedOutput captured;
    int result = RunUpgradeStep(*FindUpgradeStep(version), version);
    printed = captured.text();
    return result;
  }
  // The recorded statements that contain text, in order.
  Statements sentWith(const std::string &text) const {
    Statements found;
    for (const std::string &s : recording->statements)
      if (s.find(text) != std::string::npos) found.push_back(s);
    return found;
  }
  std::string printed;
};

// What Oracle gets to make a column nullable: a block that lets pass the
// error of a column that is nullable already (ORA-01451).
inline std::string OracleNullable(const std::string &table, const std::string &column) {
  return "DECLARE already_null EXCEPTION; PRAGMA EXCEPTION_INIT(already_null, -1451); BEGIN EXECUTE IMMEDIATE "
         "'ALTER TABLE " +
         table + " MODIFY " + column + " null'; EXCEPTION WHEN already_null THEN null; END;";
}

}  // namespace upgradetest
