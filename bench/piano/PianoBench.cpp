// GUI-thread cost of playing the piano: one mouse press on a key (hit test, drawing into the
// octave picture, a listener that does nothing) and one PressKey with the repaint it causes.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>

#include "piano/CPianoCtrl.h"
#include "piano/CPianoListener.h"

namespace {

class SilentListener : public piano::CPianoListener {
public:
    void NoteOn(piano::BYTE note) override { benchmark::DoNotOptimize(note); }
    void NoteOff(piano::BYTE note) override { benchmark::DoNotOptimize(note); }
};

struct Keyboard {
    Keyboard() {
        control.BuildKeyboard(5, 5);
        control.SetFirstNote(36);
        control.SetListener(&listener);
        control.resize(control.sizeHint());
        control.show();
        QApplication::processEvents();
    }

    SilentListener listener;
    piano::CPianoCtrl control;
};

void SendPress(QWidget& widget, QPoint point) {
    QMouseEvent press(QEvent::MouseButtonPress, point, widget.mapToGlobal(point), Qt::LeftButton,
                      Qt::LeftButton, {});
    QApplication::sendEvent(&widget, &press);
}

// Baseline: the hit test alone.
void BM_HitTest(benchmark::State& state) {
    Keyboard keyboard;
    int x = 10;
    for (auto _ : state) {
        benchmark::DoNotOptimize(keyboard.control.HitTest(x, 30));
        x = x == 10 ? 30 : 10;
    }
}
BENCHMARK(BM_HitTest);

// One press, alternating between C (white) and C# (black): each press hits a key, draws it and
// notifies the listener. Painting is left pending, as it is between two mouse events.
void BM_MousePressOnKey(benchmark::State& state) {
    Keyboard keyboard;
    bool onC = true;
    for (auto _ : state) {
        SendPress(keyboard.control, onC ? QPoint(10, 30) : QPoint(21, 30));
        onC = !onC;
    }
    QApplication::processEvents();
}
BENCHMARK(BM_MousePressOnKey);

// Baseline for the press: the same event path, a press in the gap between C and C#, which hits
// no key, draws nothing and notifies nobody.
void BM_MousePressInGap(benchmark::State& state) {
    Keyboard keyboard;
    for (auto _ : state) {
        SendPress(keyboard.control, QPoint(16, 30));
    }
}
BENCHMARK(BM_MousePressInGap);

// PressKey then the paint of the key's rectangles on the GUI thread.
void BM_PressKeyAndPaint(benchmark::State& state) {
    Keyboard keyboard;
    bool pressed = false;
    for (auto _ : state) {
        if (pressed) {
            keyboard.control.ReleaseKey(48);
        } else {
            keyboard.control.PressKey(48);
        }
        pressed = !pressed;
        QApplication::processEvents();
    }
}
BENCHMARK(BM_PressKeyAndPaint);

// For comparison: a repaint of the whole visible keyboard through the same event path.
void BM_FullRepaint(benchmark::State& state) {
    Keyboard keyboard;
    for (auto _ : state) {
        keyboard.control.update();
        QApplication::processEvents();
    }
}
BENCHMARK(BM_FullRepaint);

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
