// The step procedures: each takes the current version and the version its
// table row leads to, and returns non-zero on success. They run inside the
// driver's transaction and write the new version as their last action.
#pragma once

using UpgradeStepProcedure = int (*)(int currentVersion, int targetVersion);

struct UpgradeStep {
  int from;
  int to;
  UpgradeStepProcedure procedure;  // null in the row that ends the table
};

// In ascending order of from, ended by {0, 0, nullptr}.
extern const UpgradeStep UpgradeStepTable[];

int UpgradeFromV228(int, int);
int UpgradeFromV229(int, int);
int UpgradeFromV230(int, int);
int UpgradeFromV231(int, int);
int UpgradeFromV232(int, int);
int UpgradeFromV233(int, int);
int UpgradeFromV234(int, int);
int UpgradeFromV235(int, int);
int UpgradeFromV236(int, int);
int UpgradeFromV237(int, int);
int UpgradeFromV238(int, int);
int UpgradeFromV239(int, int);
int UpgradeFromV240(int, int);
int UpgradeFromV241(int, int);
int UpgradeFromV242(int, int);
int UpgradeFromV243(int, int);
int UpgradeFromV244(int, int);
