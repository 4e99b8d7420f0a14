#include "ui/ucDIO.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "device/DigitalIO.h"
#include "platform/Clock.h"
#include "ui/DialogStyle.h"
#include "ui/Twips.h"

namespace quillbox {
namespace {

// Design-time layout of element 0 of the bit groups and of the toggles, in twips, relative to
// their group box.
constexpr double kBoxLeft = 120, kBoxTop = 330, kBoxSize = 195;
constexpr double kLabelLeft = 120, kLabelTop = 540, kLabelWidth = 180, kLabelHeight = 195;
constexpr double kToggleLeft = 450, kToggleTop = 300, kToggleWidth = 555, kToggleHeight = 405;

// Left edge of box k: each box 1.2 box widths right of the previous one.
double BoxLeft(int k) { return kBoxLeft + k * 1.2 * kBoxSize; }

QPushButton* MakeToggle(const QString& caption, QWidget* parent) {
  auto* toggle = new QPushButton(caption, parent);
  toggle->setCheckable(true);
  toggle->setAutoDefault(false);
  QFont bold = toggle->font();
  bold.setBold(true);
  toggle->setFont(bold);
  toggle->setGeometry(TwipsRect(kToggleLeft, kToggleTop, kToggleWidth, kToggleHeight));
  return toggle;
}

QCheckBox* MakeBox(QWidget* parent, double left) {
  auto* box = new QCheckBox(parent);
  // At least as large as the style's check mark, which may exceed the 13 pixels of the layout.
  const QRect r = TwipsRect(left, kBoxTop, kBoxSize, kBoxSize);
  const int side = std::max({r.width(), box->style()->pixelMetric(QStyle::PM_IndicatorWidth),
                             box->style()->pixelMetric(QStyle::PM_IndicatorHeight)});
  box->setGeometry(r.x(), r.y(), side, side);
  return box;
}

void MakeReadOnly(QCheckBox* box) {
  box->setAttribute(Qt::WA_TransparentForMouseEvents);
  box->setFocusPolicy(Qt::NoFocus);
}

// Bit boxes smaller than the step between them, so that a gap parts them; a set input is filled.
QString BitStyle() {
  return QStringLiteral(
             "QCheckBox::indicator { width: %1px; height: %1px; border: 1px solid #404040;"
             " background: white; }"
             "QCheckBox::indicator:checked { background: #1f7a1f; border-color: #0f3f0f; }"
             "QCheckBox::indicator:disabled { border-color: #b0b0b0; }")
      .arg(Scaled(10));
}

QLabel* MakeBitLabel(QWidget* parent, double left, const QString& caption) {
  auto* label = new QLabel(caption, parent);
  // A narrow font keeps two digits apart from the next label, 1.2 box widths on.
  QFont narrow(QStringLiteral("DejaVu Sans Condensed"));
  narrow.setPixelSize(Scaled(10));
  label->setFont(narrow);
  const QRect r = TwipsRect(left, kLabelTop, kLabelWidth, kLabelHeight);
  const int width = std::min(Px(1.2 * kBoxSize) - 1,
                             std::max(r.width(), label->fontMetrics().horizontalAdvance("16") + 1));
  label->setGeometry(r.x(), r.y(), width, r.height());
  return label;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X", value);
  return text;
}

}  // namespace

std::string HexAndDecimal(int32_t value) {
  return "0x" + Hex(static_cast<uint32_t>(value)) + " (" + std::to_string(value) + ")";
}

ucDIO::ucDIO(QWidget* parent, DriverState& state) : SetupPage(parent, state) {
  resize(Px(4725), Px(3495));

  frDI = new QGroupBox(QStringLiteral("&Input"), this);
  frDI->setObjectName(QStringLiteral("frDI"));
  frDI->setGeometry(TwipsRect(60, 60, 4575, 915));
  tmrDI = new QTimer(this);
  tmrDI->setObjectName(QStringLiteral("tmrDI"));
  tmrDI->setInterval(kMonitorIntervalMs);
  connect(tmrDI, &QTimer::timeout, this, [this] { tmrDI_Timer(); });
  chkInput = MakeToggle(QStringLiteral("In"), frDI);
  chkInput->setObjectName(QStringLiteral("chkInput"));
  connect(chkInput, &QPushButton::toggled, this, [this] { chkInput_Click(); });
  chkIn[0] = MakeBox(frDI, kBoxLeft);
  chkIn[0]->setObjectName(QStringLiteral("chkIn0"));
  // The inputs are the page's read-out: drawn enabled (legible), but not the user's to change.
  MakeReadOnly(chkIn[0]);
  lblInBin[0] = MakeBitLabel(frDI, kLabelLeft, QStringLiteral("16"));
  lblInBin[0]->setObjectName(QStringLiteral("lblInBin0"));

  frDI->setStyleSheet(BitStyle());

  frDO = new QGroupBox(QStringLiteral("&Output"), this);
  frDO->setObjectName(QStringLiteral("frDO"));
  frDO->setStyleSheet(BitStyle());
  frDO->setGeometry(TwipsRect(90, 1050, 4575, 2385));
  chkOut[0] = MakeBox(frDO, kBoxLeft);
  chkOut[0]->setObjectName(QStringLiteral("chkOut0"));
  connect(chkOut[0], &QCheckBox::toggled, this, [this] { chkOut_Click(0); });
  lblOutBin[0] = MakeBitLabel(frDO, kLabelLeft, QStringLiteral("16"));
  lblOutBin[0]->setObjectName(QStringLiteral("lblOutBin0"));
  chkOutput = MakeToggle(QStringLiteral("Out"), frDO);
  chkOutput->setObjectName(QStringLiteral("chkOutput"));
  connect(chkOutput, &QPushButton::toggled, this, [this] { chkOutput_Click(); });

  const char* outputCaptions[] = {"Clear", "Set All", "Invert", "As Input", "Reset"};
  const double outputLefts[] = {120, 1005, 1875, 2760, 3630};
  for (int i = 0; i < 5; ++i) {
    auto* button = new QPushButton(QString::fromLatin1(outputCaptions[i]), frDO);
    button->setObjectName(QStringLiteral("cmdOutput%1").arg(i));
    button->setGeometry(TwipsRect(outputLefts[i], 840, 825, 345));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, i] { cmdOutput_Click(i); });
    cmdOutput[static_cast<std::size_t>(i)] = button;
  }
  const char* startCaptions[] = {"On Start:", "On Stop:"};
  const double startTops[] = {1560, 1980};
  const double buttonTops[] = {1470, 1920};
  for (int i = 0; i < 2; ++i) {
    const auto n = static_cast<std::size_t>(i);
    chkStart[n] = new QCheckBox(QString::fromLatin1(startCaptions[i]), frDO);
    chkStart[n]->setObjectName(QStringLiteral("chkStart%1").arg(i));
    chkStart[n]->setGeometry(TwipsRect(120, startTops[i], 2205, 195));
    FitCaption(chkStart[n]);
    connect(chkStart[n], &QCheckBox::toggled, this, [this, i] { chkStart_Click(i); });
    cmdStart[n] = new QPushButton(QStringLiteral("Set"), frDO);
    cmdStart[n]->setObjectName(QStringLiteral("cmdStart%1").arg(i));
    cmdStart[n]->setGeometry(TwipsRect(2550, buttonTops[i], 885, 345));
    cmdStart[n]->setAutoDefault(false);
    cmdStart[n]->setEnabled(false);
    connect(cmdStart[n], &QPushButton::clicked, this, [this, i] { cmdStart_Click(i); });
    cmdShow[n] = new QPushButton(QStringLiteral("Show"), frDO);
    cmdShow[n]->setObjectName(QStringLiteral("cmdShow%1").arg(i));
    cmdShow[n]->setGeometry(TwipsRect(3570, buttonTops[i], 885, 345));
    cmdShow[n]->setAutoDefault(false);
    cmdShow[n]->setEnabled(false);
    connect(cmdShow[n], &QPushButton::clicked, this, [this, i] { cmdShow_Click(i); });
  }

  InitSetting();
}

int ucDIO::InBits() const { return std::min<int>(PageDIO.DIBits, kBits); }
int ucDIO::OutBits() const { return std::min<int>(PageDIO.DOBits, kBits); }

bool ucDIO::MonitorRunning() const { return tmrDI->isActive(); }

void ucDIO::InitSetting() {
  // 1. The bit rows: copies of element 0, box k for bit 15 - k, labelled 16 - k.
  int first = 0;
  while (first + 1 < kBits && chkOut[static_cast<std::size_t>(first) + 1] != nullptr) ++first;
  for (int k = first + 1; k < kBits; ++k) {
    const auto n = static_cast<std::size_t>(k);
    const QString label = QString::number(16 - k);
    chkIn[n] = MakeBox(frDI, BoxLeft(k));
    chkIn[n]->setObjectName(QStringLiteral("chkIn%1").arg(k));
    MakeReadOnly(chkIn[n]);
    chkIn[n]->setVisible(true);
    lblInBin[n] = MakeBitLabel(frDI, BoxLeft(k), label);
    lblInBin[n]->setObjectName(QStringLiteral("lblInBin%1").arg(k));
    lblInBin[n]->setVisible(true);
    chkOut[n] = MakeBox(frDO, BoxLeft(k));
    chkOut[n]->setObjectName(QStringLiteral("chkOut%1").arg(k));
    chkOut[n]->setVisible(true);
    connect(chkOut[n], &QCheckBox::toggled, this, [this, k] { chkOut_Click(k); });
    lblOutBin[n] = MakeBitLabel(frDO, BoxLeft(k), label);
    lblOutBin[n]->setObjectName(QStringLiteral("lblOutBin%1").arg(k));
    lblOutBin[n]->setVisible(true);
  }
  // Keyboard order: the output boxes left to right, then the toggles and the buttons.
  QWidget* previous = chkOut[0];
  for (int k = 1; k < kBits; ++k) {
    setTabOrder(previous, chkOut[static_cast<std::size_t>(k)]);
    previous = chkOut[static_cast<std::size_t>(k)];
  }
  for (QWidget* next : std::initializer_list<QWidget*>{
           chkOutput, chkInput, cmdOutput[0], cmdOutput[1], cmdOutput[2], cmdOutput[3],
           cmdOutput[4], chkStart[0], chkStart[1], cmdStart[0], cmdStart[1], cmdShow[0],
           cmdShow[1]}) {
    setTabOrder(previous, next);
    previous = next;
  }

  // 2. The toggles beside the rows.
  const double toggleLeft = BoxLeft(kBits - 1) + 1.5 * kBoxSize;
  chkInput->setGeometry(TwipsRect(toggleLeft, kBoxTop, kToggleWidth, kToggleHeight));
  chkOutput->setGeometry(TwipsRect(toggleLeft, kBoxTop, kToggleWidth, kToggleHeight));

  // 3. The page's copy of the digital I/O settings.
  PageDIO = state_.Dio;

  // 4. Bits the module does not have: no box, a greyed label.
  for (int k = 0; k <= 15 - static_cast<int>(PageDIO.DIBits); ++k) {
    chkIn[static_cast<std::size_t>(k)]->setVisible(false);
    lblInBin[static_cast<std::size_t>(k)]->setEnabled(false);
  }
  for (int k = 0; k <= 15 - static_cast<int>(PageDIO.DOBits); ++k) {
    chkOut[static_cast<std::size_t>(k)]->setVisible(false);
    lblOutBin[static_cast<std::size_t>(k)]->setEnabled(false);
  }

  // 5. and 6. Start and stop values (checking a box enables its buttons).
  chkStart[0]->setChecked(PageDIO.DOStartEnabled);
  chkStart[1]->setChecked(PageDIO.DOStopEnabled);
  ShowStartStopValue(0);
  ShowStartStopValue(1);
}

void ucDIO::UserControl_Show() {
  ShowInputs();
  LoadOutputs();
  if (chkInput->isChecked()) {
    StartMonitor();
  }
}

void ucDIO::UserControl_Hide() { tmrDI->stop(); }

void ucDIO::StartMonitor() {
  // Once a second on the process's clock (faster when the clock is scaled for tests).
  const auto real = platform::ToReal(std::chrono::milliseconds(kMonitorIntervalMs));
  tmrDI->setInterval(std::max<int>(
      1, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(real).count())));
  tmrDI->start();
}

void ucDIO::ShowInputs() {
  PageDIO.DIValue = ReadInputs(state_, state_.Dio);
  for (int i = 0; i < InBits(); ++i)
    chkIn[static_cast<std::size_t>(15 - i)]->setChecked(((PageDIO.DIValue >> i) & 1) != 0);
  frDI->setTitle(QStringLiteral("Input: ") +
                 QString::fromStdString(HexAndDecimal(PageDIO.DIValue)));
}

void ucDIO::SetOutputBoxes(int32_t value) {
  for (int i = 0; i < OutBits(); ++i) {
    QCheckBox* box = chkOut[static_cast<std::size_t>(15 - i)];
    const bool on = ((value >> i) & 1) != 0;
    if (box->isChecked() != on) box->setChecked(on);
  }
}

int32_t ucDIO::OutputBoxesWord() const {
  int32_t word = 0;
  for (int i = 0; i < OutBits(); ++i)
    if (chkOut[static_cast<std::size_t>(15 - i)]->isChecked()) word |= int32_t{1} << i;
  return word;
}

void ucDIO::LoadOutputs() {
  PageDIO.DOValue = ReadOutputs(state_.Dio);
  Updating = true;
  SetOutputBoxes(PageDIO.DOValue);
  Updating = false;
  ShowOutputValue();
}

void ucDIO::ShowOutputValue() {
  PageDIO.DOValue = OutputBoxesWord();
  // Live mode writes every change to the lines at once: the title and the toggle say so.
  const bool live = chkOutput->isChecked();
  frDO->setTitle(QStringLiteral("Output: ") +
                 QString::fromStdString(HexAndDecimal(PageDIO.DOValue)) +
                 (live ? QStringLiteral("  \u2014 LIVE: changes go to the lines") : QString()));
  chkOutput->setStyleSheet(
      live ? QStringLiteral("QPushButton { background: #c62828; color: white; }") : QString());
}

void ucDIO::ApplyOutputs() {
  ShowOutputValue();
  WriteOutputs(state_, state_.Dio, PageDIO.DOValue);
  ShowInputs();  // the inputs are read again after every write
}

void ucDIO::ShowStartStopValue(int Index) {
  PageDIO.DOValue = Index != 0 ? PageDIO.DOStopValue : PageDIO.DOStartValue;
  const char* label = Index != 0 ? "On Stop: " : "On Start: ";
  const auto n = static_cast<std::size_t>(Index != 0 ? 1 : 0);
  chkStart[n]->setText(QString::fromLatin1(label) +
                       QString::fromStdString(HexAndDecimal(PageDIO.DOValue)));
  // Long values get the room up to the "Set" button.
  const int room = cmdStart[n]->x() - chkStart[n]->x() - 4;
  chkStart[n]->resize(std::clamp(chkStart[n]->sizeHint().width(), Px(2205), room),
                      chkStart[n]->height());
}

void ucDIO::chkInput_Click() {
  if (chkInput->isChecked()) {
    ShowInputs();
    StartMonitor();
  } else {
    tmrDI->stop();
  }
}

void ucDIO::tmrDI_Timer() { ShowInputs(); }

void ucDIO::chkOut_Click(int /*Index*/) {
  if (Updating) return;
  if (chkOutput->isChecked()) {
    ApplyOutputs();
    LoadOutputs();  // a write that did not go through shows as the boxes going back
  } else {
    ShowOutputValue();
  }
}

void ucDIO::chkOutput_Click() {
  if (chkOutput->isChecked()) {
    ApplyOutputs();
    LoadOutputs();
    cmdOutput[4]->setEnabled(false);
  } else {
    cmdOutput[4]->setEnabled(true);
    ShowOutputValue();
  }
}

void ucDIO::cmdOutput_Click(int Index) {
  if (Index >= 0 && Index <= 3) {
    Updating = true;
    for (int i = 0; i < OutBits(); ++i) {
      QCheckBox* box = chkOut[static_cast<std::size_t>(15 - i)];
      switch (Index) {
        case 0:
          box->setChecked(false);
          break;
        case 1:
          box->setChecked(true);
          break;
        case 2:
          box->setChecked(!box->isChecked());
          break;
        default:
          box->setChecked(chkIn[static_cast<std::size_t>(15 - i)]->isChecked());
          break;
      }
    }
    Updating = false;
  } else if (Index == 4) {
    LoadOutputs();
  } else {
    return;
  }
  chkOut_Click(0);
}

void ucDIO::chkStart_Click(int Index) {
  const auto n = static_cast<std::size_t>(Index != 0 ? 1 : 0);
  const bool on = chkStart[n]->isChecked();
  cmdStart[n]->setEnabled(on);
  cmdShow[n]->setEnabled(on);
  if (Index != 0)
    PageDIO.DOStopEnabled = on;
  else
    PageDIO.DOStartEnabled = on;
}

void ucDIO::cmdStart_Click(int Index) {
  PageDIO.DOValue = OutputBoxesWord();
  if (Index == 0)
    PageDIO.DOStartValue = PageDIO.DOValue;
  else
    PageDIO.DOStopValue = PageDIO.DOValue;
  ShowStartStopValue(Index);
}

void ucDIO::cmdShow_Click(int Index) {
  PageDIO.DOValue = Index != 0 ? PageDIO.DOStopValue : PageDIO.DOStartValue;
  Updating = true;
  SetOutputBoxes(PageDIO.DOValue);
  Updating = false;
  chkOut_Click(0);
}

void ucDIO::Page_SaveSetting() {
  PageDIO.DIValue = state_.Dio.DIValue;
  PageDIO.DOValue = state_.Dio.DOValue;
  state_.Dio = PageDIO;
}

}  // namespace quillbox
