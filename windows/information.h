#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TInfo;
}

namespace zfuse {

// The info window with the program's version line; "OK" hides it.
class TInfo : public QWidget {
  Q_OBJECT

 public:
  explicit TInfo(QWidget* parent = nullptr);
  ~TInfo() override;

  void Button1Click() { close(); }
  void setVersionLine(const QString& text);

 private:
  std::unique_ptr<Ui::TInfo> ui;
};

}  // namespace zfuse
