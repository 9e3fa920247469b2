#pragma once

class QWidget;

namespace zfuse {

class TForm1;
class Tpara;
class TInfo;
class Tparameter_zokx;
class TForm2;
class EventWindow;
class TrendWindow;

// The five windows of the program, created once at start and kept until its end.
extern TForm1* Form1;
extern Tpara* para;
extern TInfo* Info;
extern Tparameter_zokx* parameter_zokx;
extern TForm2* Form2;
// The diagnosis windows: the event log and the trend, created after the five.
extern EventWindow* Events;
extern TrendWindow* Trend;

// How the operator started the program: the port of the first open and the language.
// Nothing is kept between runs; the defaults are COM1 and German.
struct StartOptions {
  int port = 1;
  bool english = false;
};

// What a language switch changes beyond the caption tables: Qt's own texts (file
// dialogs, standard buttons) and the names the dialogs' controls carry for assistive
// technology. The main window calls it after applying the captions.
void followLanguage(bool english);

// Starts the program inside a running Qt application: title, the five
// windows in their order, the start language; the main window is shown.
void startProgram(const StartOptions& options = {});
// Closes down what startProgram built and returns every module variable to its state
// at load, so that the program can be started again in the same process.
void endProgram();
// Runs the event loop until the main window closes or the process is asked to end
// (SIGTERM, SIGINT, SIGHUP), then ends the program, which closes every port it holds
// and so removes the ports' lock files.
int runEventLoop();
// The whole program: application, start, event loop, end.
int runProgram(int argc, char** argv, const StartOptions& options = {});

}  // namespace zfuse
