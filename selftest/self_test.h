#pragma once

// The --self-test mode: checks the program's own rules and files, writes its report, and returns the
// process exit code (0 when every check passed, 1 otherwise).
int runSelfTest();
