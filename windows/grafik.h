#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TForm2;
}

namespace zfuse {

// The trip-characteristic window, centred in the work area when it is created.
class TForm2 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);
  ~TForm2() override;

  void FormCreate();

 private:
  std::unique_ptr<Ui::TForm2> ui;
};

}  // namespace zfuse
