#include "viewer.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMetaEnum>
#include <QSignalBlocker>

using velmora::qt::AniGifWidget;

Viewer::Viewer(QWidget* parent) : QWidget(parent) {
  ui_.setupUi(this);
  AniGifWidget* gif = ui_.gif;

  // The stretch modes as the widget names them; the form chose the first one shown.
  const QMetaEnum stretches = QMetaEnum::fromType<AniGifWidget::Stretch>();
  for (int i = 0; i < stretches.keyCount(); ++i) {
    ui_.stretchBox->addItem(QString::fromLatin1(stretches.key(i)), stretches.value(i));
  }
  ui_.stretchBox->setCurrentIndex(ui_.stretchBox->findData(gif->stretch()));
  connect(ui_.stretchBox, &QComboBox::currentIndexChanged, gif, [this, gif](int index) {
    gif->setStretch(static_cast<AniGifWidget::Stretch>(ui_.stretchBox->itemData(index).toInt()));
  });

  connect(ui_.openButton, &QPushButton::clicked, this, &Viewer::chooseFile);
  connect(ui_.playButton, &QPushButton::clicked, gif, [gif] { gif->setAction(AniGifWidget::Play); });
  connect(ui_.pauseButton, &QPushButton::clicked, gif, [gif] { gif->setAction(AniGifWidget::Pause); });
  connect(ui_.stepButton, &QPushButton::clicked, gif, [gif] { gif->setAction(AniGifWidget::Step); });

  // Loops belong to the GIF (a load sets them from the file), so the box follows the widget.
  connect(ui_.loopsBox, &QSpinBox::valueChanged, gif, &AniGifWidget::setLoops);
  connect(gif, &AniGifWidget::loopsChanged, ui_.loopsBox, [this](int loops) {
    const QSignalBlocker block(ui_.loopsBox);
    ui_.loopsBox->setValue(loops);
  });

  connect(gif, &AniGifWidget::currentFrameChanged, this, &Viewer::showStatus);
  connect(gif, &AniGifWidget::actionChanged, this, &Viewer::showStatus);
  connect(gif, &AniGifWidget::loopsRemainingChanged, this, &Viewer::showStatus);
}

bool Viewer::open(const QString& path) {
  name_ = QFileInfo(path).fileName();
  if (!ui_.gif->loadFile(path)) {
    ui_.status->setText(tr("%1: not a GIF this viewer can show").arg(name_));
    return false;
  }
  showStatus();
  return true;
}

void Viewer::chooseFile() {
  const QString path =
      QFileDialog::getOpenFileName(this, tr("Open a GIF"), QString(), tr("GIF images (*.gif)"));
  if (!path.isEmpty()) open(path);
}

void Viewer::showStatus() {
  const AniGifWidget& gif = *ui_.gif;
  const char* state = QMetaEnum::fromType<AniGifWidget::Action>().valueToKey(gif.action());
  ui_.status->setText(tr("%1: frame %2 of %3, %4")
                          .arg(name_)
                          .arg(gif.currentFrame())
                          .arg(gif.frameCount())
                          .arg(QString::fromLatin1(state).toLower()));
}
