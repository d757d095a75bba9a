// The application object: reads the command line, opens the profile, starts
// the stand-in instrument for --demo, runs the main dialog modally and releases
// the connection when it ends.
#pragma once

class CSpectrumApp {
  public:
    // The whole run of the process; the exit status.
    int Run(int argc, char** argv);
};

extern CSpectrumApp theApp;
