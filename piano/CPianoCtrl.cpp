#include "piano/CPianoCtrl.h"

#include <cstdint>
#include <new>

#include <QAbstractSlider>
#include <QCoreApplication>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QThread>

#include "performance/PerformanceLock.h"
#include "piano/CPianoListener.h"

namespace piano {

namespace {

// Keeps the keyboard's pixel sizes well inside what QImage and widget geometry accept.
constexpr std::int64_t kMaxKeyboardPixels = 32767;

}  // namespace

CPianoCtrl::CPianoCtrl(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::TabFocus);
    // Moves without a button must arrive too: they are what gives the capture up.
    setMouseTracking(true);
    // A drag that starts on another widget of the window keeps Qt's implicit grab there; the
    // application filter sees those moves so the keyboard can take the mouse when they enter it.
    if (QCoreApplication* application = QCoreApplication::instance())
        application->installEventFilter(this);
}

CPianoCtrl::~CPianoCtrl() = default;

bool CPianoCtrl::BuildKeyboard(int octaves, int unit) {
    performance::PerformanceGuard guard(performance::PerformanceLock());
    m_octaves.reset();
    m_octaveCount = 0;
    m_width = 0;
    m_height = 0;
    if (octaves < 0 || unit < 1) {
        return false;
    }
    const std::int64_t keyHeight = std::int64_t{16} * unit;
    const std::int64_t octaveWidth = std::int64_t{14} * (2 * std::int64_t{unit} + unit / 3);
    if (keyHeight > kMaxKeyboardPixels || octaveWidth * octaves > kMaxKeyboardPixels) {
        return false;
    }
    m_keyHeight = static_cast<int>(keyHeight);
    m_octaveWidth = static_cast<int>(octaveWidth);

    std::unique_ptr<CPianoOctave[]> built;
    try {
        built = std::make_unique<CPianoOctave[]>(static_cast<std::size_t>(octaves));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int o = 0; o < octaves; ++o) {
        if (!built[static_cast<std::size_t>(o)].Build(o * m_octaveWidth, 0, unit, m_octaveWidth,
                                                      m_keyHeight)) {
            return false;
        }
        built[static_cast<std::size_t>(o)].ReleaseAll();
    }
    m_octaves = std::move(built);
    m_octaveCount = octaves;
    m_width = octaves * m_octaveWidth;
    m_height = m_keyHeight;
    return true;
}

void CPianoCtrl::SetFirstNote(int note) {
    performance::PerformanceGuard guard(performance::PerformanceLock());
    m_firstNote = note;
    for (int o = 0; o < m_octaveCount; ++o) {
        m_octaves[static_cast<std::size_t>(o)].SetNotes(static_cast<BYTE>(note + 12 * o));
    }
    m_lastNote = note + 12 * m_octaveCount - 1;
}

void CPianoCtrl::SetListener(CPianoListener* listener) {
    performance::PerformanceGuard guard(performance::PerformanceLock());
    m_listener = listener;
}

void CPianoCtrl::PressKey(BYTE note) {
    ShowKey(note, true);
}

void CPianoCtrl::ReleaseKey(BYTE note) {
    ShowKey(note, false);
}

void CPianoCtrl::ShowKey(BYTE note, bool pressed) {
    performance::PerformanceGuard guard(performance::PerformanceLock());
    if (note < m_firstNote || note > m_lastNote) {
        return;
    }
    const int offset = note - m_firstNote;
    const int octave = offset / 12;
    // A rebuild with fewer octaves leaves the last note stale until SetFirstNote.
    if (octave >= m_octaveCount) {
        return;
    }
    CPianoOctave& target = m_octaves[static_cast<std::size_t>(octave)];
    if (pressed) {
        target.Press(offset % 12, *this);
    } else {
        target.Release(offset % 12, *this);
    }
}

BYTE CPianoCtrl::HitTest(int x, int y) const {
    performance::PerformanceGuard guard(performance::PerformanceLock());
    if (x < 1 || x >= m_width || y < 1 || y >= m_height) {
        return kNoKey;
    }
    return m_octaves[static_cast<std::size_t>(x / m_octaveWidth)].HitTest(x, y);
}

int CPianoCtrl::GetFirstNote() const {
    performance::PerformanceGuard guard(performance::PerformanceLock());
    return m_firstNote;
}

int CPianoCtrl::GetLastNote() const {
    performance::PerformanceGuard guard(performance::PerformanceLock());
    return m_lastNote;
}

int CPianoCtrl::GetOctaveCount() const {
    performance::PerformanceGuard guard(performance::PerformanceLock());
    return m_octaveCount;
}

int CPianoCtrl::GetOctaveWidth() const {
    performance::PerformanceGuard guard(performance::PerformanceLock());
    return m_octaveWidth;
}

int CPianoCtrl::GetKeyHeight() const {
    performance::PerformanceGuard guard(performance::PerformanceLock());
    return m_keyHeight;
}

const CPianoOctave* CPianoCtrl::GetOctave(int index) const {
    performance::PerformanceGuard guard(performance::PerformanceLock());
    if (index < 0 || index >= m_octaveCount) {
        return nullptr;
    }
    return &m_octaves[static_cast<std::size_t>(index)];
}

void CPianoCtrl::InvalidateArea(const QRegion& area) {
    if (QThread::currentThread() == thread()) {
        update(area);
        return;
    }
    // Widgets are touched only on the GUI thread; the call is dropped if the control is gone.
    QMetaObject::invokeMethod(
        this, [this, area] { update(area); }, Qt::QueuedConnection);
}

QSize CPianoCtrl::sizeHint() const {
    // The dialog shows 632 × 80 pixels of the 770 × 80 keyboard and clips the rest.
    return {632, 80};
}

void CPianoCtrl::paintEvent(QPaintEvent* event) {
    performance::PerformanceGuard guard(performance::PerformanceLock());
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (int o = 0; o < m_octaveCount; ++o) {
        m_octaves[static_cast<std::size_t>(o)].Paint(painter, event->rect());
    }
}

bool CPianoCtrl::IsInside(int x, int y) const {
    return x >= 1 && x < m_width && y >= 1 && y < m_height;
}

void CPianoCtrl::Capture() {
    // A press on the keyboard gets Qt's implicit grab: every move and the release come here
    // while the button is held, which is all the capture is for.
    m_captured = true;
}

void CPianoCtrl::GrabFromElsewhere() {
    // The button went down on another widget, which holds the implicit grab: take the moves
    // and the release explicitly. Given up on the release or when the point leaves, so the
    // mouse is never left grabbed.
    grabMouse();
    m_grabbing = true;
    m_captured = true;
}

void CPianoCtrl::ReleaseCapture() {
    m_captured = false;
    EndGrab();
}

void CPianoCtrl::EndGrab() {
    if (!m_grabbing)
        return;
    m_grabbing = false;
    releaseMouse();
}

void CPianoCtrl::EndLastKey() {
    const BYTE last = m_lastKey;
    ShowKey(last, false);
    if (m_listener != nullptr) {
        m_listener->NoteOff(last);
    }
}

void CPianoCtrl::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton) {
        return;
    }
    performance::PerformanceGuard guard(performance::PerformanceLock());
    const QPoint point = event->position().toPoint();
    m_currentKey = HitTest(point.x(), point.y());
    if (m_currentKey != kNoKey) {
        const BYTE current = m_currentKey;
        ShowKey(current, true);
        if (m_listener != nullptr) {
            m_listener->NoteOn(current);
        }
        m_lastKey = current;
    }
    if (!m_captured) {
        Capture();
    }
}

void CPianoCtrl::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton) {
        return;
    }
    performance::PerformanceGuard guard(performance::PerformanceLock());
    if (m_currentKey != kNoKey) {
        const BYTE current = m_currentKey;
        ShowKey(current, false);
        if (m_listener != nullptr) {
            m_listener->NoteOff(current);
        }
        // The key has ended: a later drag back onto it must play it again, and a drag from a
        // gap onto another key must not end it a second time.
        m_lastKey = kNoKey;
    }
    EndGrab();
}

void CPianoCtrl::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    HandleMouseMove(event->position().toPoint(), event->buttons(), false);
}

bool CPianoCtrl::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::MouseMove || watched == this || m_grabbing)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    auto* move = static_cast<QMouseEvent*>(event);
    if (widget == nullptr || widget->window() != window() || !isVisible() ||
        !(move->buttons() & Qt::LeftButton))
        return false;
    // A slider whose thumb is being dragged keeps its drag, even across the keys.
    if (const auto* slider = qobject_cast<QAbstractSlider*>(widget);
        slider && slider->isSliderDown())
        return false;
    const QPoint point = mapFromGlobal(move->globalPosition().toPoint());
    if (IsInside(point.x(), point.y()))
        HandleMouseMove(point, move->buttons(), true);
    return false;
}

void CPianoCtrl::HandleMouseMove(QPoint point, Qt::MouseButtons buttons, bool fromElsewhere) {
    performance::PerformanceGuard guard(performance::PerformanceLock());
    const bool inside = IsInside(point.x(), point.y());
    if (!inside && m_captured) {
        ReleaseCapture();
    }
    if (!(buttons & Qt::LeftButton)) {
        return;
    }
    if (inside && fromElsewhere) {
        GrabFromElsewhere();
    } else if (inside && !m_captured) {
        Capture();
    }
    m_currentKey = HitTest(point.x(), point.y());
    if (m_currentKey != kNoKey) {
        if (m_currentKey == m_lastKey) {
            return;
        }
        if (m_lastKey != kNoKey) {
            EndLastKey();
        }
        const BYTE current = m_currentKey;
        ShowKey(current, true);
        if (m_listener != nullptr) {
            m_listener->NoteOn(current);
        }
        m_lastKey = current;
    } else if (m_lastKey != kNoKey) {
        EndLastKey();
        m_lastKey = kNoKey;
    }
}

void CPianoCtrl::leaveEvent(QEvent* event) {
    // Without an explicit grab, leaving the widget is the move outside the keyboard that ends
    // the capture; keys are left alone as a move without the button would leave them.
    performance::PerformanceGuard guard(performance::PerformanceLock());
    if (m_captured) {
        ReleaseCapture();
    }
    QWidget::leaveEvent(event);
}

}  // namespace piano
