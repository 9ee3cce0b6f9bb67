// Ctrl-C (SIGINT) and Ctrl-\ (SIGQUIT) during a scan: the first asks the
// scan to stop, so that the orders already finished can still be reported
// and written; a second ends the process as the signal would, the
// temporaries removed and every earlier output left as it was.
#pragma once

// Catches the two signals until the object goes, when the handling they had
// before (the removal of temporaries) comes back.
class ScanInterrupt {
 public:
  ScanInterrupt();
  ~ScanInterrupt();
  ScanInterrupt(const ScanInterrupt&) = delete;
  ScanInterrupt& operator=(const ScanInterrupt&) = delete;
};

// Whether a stop was asked for since the program began.
bool scan_interrupted();
