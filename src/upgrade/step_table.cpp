#include "upgrade/steps.h"

// Versions without a row (older ones whose steps are not in this build
// among them) stop the upgrade with "Unable to find upgrade procedure".
const UpgradeStep UpgradeStepTable[] = {
    {228, 229, UpgradeFromV228},
    {229, 230, UpgradeFromV229},
    {230, 231, UpgradeFromV230},
    {231, 232, UpgradeFromV231},
    // A database at 232 takes the combined step; 233..237 take the single
    // steps from where they stand.
    {232, 238, UpgradeFromV232},
    {233, 234, UpgradeFromV233},
    {234, 235, UpgradeFromV234},
    {235, 236, UpgradeFromV235},
    {236, 237, UpgradeFromV236},
    {237, 238, UpgradeFromV237},
    {238, 239, UpgradeFromV238},
    {239, 240, UpgradeFromV239},
    {240, 241, UpgradeFromV240},
    {241, 242, UpgradeFromV241},
    {242, 243, UpgradeFromV242},
    {243, 244, UpgradeFromV243},
    {244, 245, UpgradeFromV244},
    {0, 0, nullptr},
};
