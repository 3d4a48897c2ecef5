#pragma once

#include <memory>

#include <QWidget>

#include "piano/CPianoItem.h"
#include "piano/CPianoOctave.h"

class QRegion;

namespace piano {

class CPianoListener;

// The on-screen piano: a row of whole octaves drawn from off-screen pictures, played with the
// left mouse button, reporting keys to one listener. The CPianoItem part holds the keyboard's
// width and height (X and Y unused). The widget itself is touched only on the GUI thread;
// PressKey and ReleaseKey may be called from any thread.
class CPianoCtrl : public QWidget, public CPianoItem {
    Q_OBJECT

public:
    explicit CPianoCtrl(QWidget* parent = nullptr);
    ~CPianoCtrl() override;

    // Lays out `octaves` octaves of size unit `unit` (pixels), all keys released and not yet
    // numbered. False when the octaves or their pictures cannot be allocated (or the sizes are
    // not positive); the keyboard is then empty. Does not repaint.
    bool BuildKeyboard(int octaves, int unit);
    // Renumbers the keys so the leftmost is `note`; changes no drawing.
    void SetFirstNote(int note);
    // Not owned; nullptr stops the notifications.
    void SetListener(CPianoListener* listener);

    // Show a key down or up; notes outside first note ... last note are ignored. Any thread:
    // they draw under the performance lock and have the GUI thread repaint the key's area.
    // They never call the listener.
    void PressKey(BYTE note);
    void ReleaseKey(BYTE note);

    // Note of the key under the client point, or kNoKey.
    BYTE HitTest(int x, int y) const;

    int GetFirstNote() const;
    int GetLastNote() const;
    int GetOctaveCount() const;
    int GetOctaveWidth() const;
    int GetKeyHeight() const;
    // nullptr when out of range. For reading the pictures; take the performance lock when
    // other threads may be drawing.
    const CPianoOctave* GetOctave(int index) const;
    // True while the control considers itself to hold the mouse.
    bool IsCaptured() const { return m_captured; }

    // Repaints `area` (client coordinates) on the GUI thread; callable from any thread.
    void InvalidateArea(const QRegion& area);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool IsInside(int x, int y) const;
    void ShowKey(BYTE note, bool pressed);
    void HandleMouseMove(QPoint point, Qt::MouseButtons buttons, bool fromElsewhere);
    void Capture();
    void GrabFromElsewhere();
    void ReleaseCapture();
    void EndGrab();
    void EndLastKey();

    std::unique_ptr<CPianoOctave[]> m_octaves;
    CPianoListener* m_listener = nullptr;
    bool m_captured = false;
    bool m_grabbing = false;     // holds an explicit grab taken from another widget's drag
    BYTE m_lastKey = kNoKey;     // pressed by the mouse and not yet ended
    BYTE m_currentKey = kNoKey;  // result of the latest press or move hit test
    int m_firstNote = 0;
    int m_lastNote = 0;
    int m_octaveCount = 0;
    int m_octaveWidth = 0;
    int m_keyHeight = 0;
};

}  // namespace piano
