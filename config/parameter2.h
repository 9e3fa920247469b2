#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>

namespace Ui {
class Tparameter_zokx;
}

namespace zfuse {

// The fuse-variant models' configuration dialog: for now the rated-current lists of the
// four channels and the channel events of the signalling output, prepared for the model
// on the line each time the main window opens it.
class Tparameter_zokx : public QMainWindow {
  Q_OBJECT

 public:
  explicit Tparameter_zokx(QWidget* parent = nullptr);
  ~Tparameter_zokx() override;

  void FormCreate();
  void schliessenClick() { close(); }

  // Fills the current lists for the model on the line (up to 6 or 10 A), selects none,
  // and hides channels 3 and 4 for the two-channel models, for the rest of the run.
  void prepareForModel();

  // Called on every close: the main window takes the device back.
  std::function<void()> handBackDevice;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  std::unique_ptr<Ui::Tparameter_zokx> ui;
};

}  // namespace zfuse
