#pragma once

#include <windows.h>

// Turns an existing push button into a skinned one: it shows one of three
// bitmaps for the normal, hover and pressed states, or draws a light gradient
// face of its own when it has no bitmap, and keeps the standard button behaviour
// (capture, the click sent to the parent) by passing every message on to the
// button's previous procedure. All painting goes through an off-screen bitmap.
// Failures are written as debugger lines only.
class CWinButton {
public:
    CWinButton();
    virtual ~CWinButton();
    CWinButton(const CWinButton&) = delete;
    CWinButton& operator=(const CWinButton&) = delete;

    // Subclasses the button; 1 on success, 0 when the handle is no window or the
    // window property cannot be set (the button then stays a plain button).
    int Attach(HWND button);
    // The normal-state bitmap; with resize the button takes the bitmap's size.
    // 0 when the handle is empty or no button is attached (nothing changes then).
    int SetBitmaps(HBITMAP normal, BOOL resize);
    // Puts the previous procedure back and frees the drawing objects. The bitmaps
    // belong to the owner.
    void Detach();

    HWND Window() const noexcept { return m_hWnd; }
    bool Hovering() const noexcept { return m_hover != 0; }
    bool Pressed() const noexcept { return m_pressed != 0; }
    bool HasBitmap() const noexcept { return m_hasBitmap != 0; }

    // Set by the owner after SetBitmaps, with non-empty handles only.
    HBITMAP m_hoverBitmap = nullptr;
    HBITMAP m_pressedBitmap = nullptr;
    COLORREF m_textColour = RGB(0, 0, 0);
    HFONT m_font = nullptr; // deleted by Detach

private:
    static LRESULT CALLBACK ButtonProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void OnPaint();
    void OnMouseMove(LPARAM lParam);
    void Repaint();
    void DrawFace(HDC dc);
    void DrawGradientFace(HDC dc);
    void DrawCaption(HDC dc, RECT rect, UINT format);
    void FreeDrawingObjects();

    HWND m_hWnd = nullptr;
    HWND m_parent = nullptr;
    WNDPROC m_previousProc = nullptr;
    HBITMAP m_normalBitmap = nullptr;
    BITMAP m_normalInfo{};
    int m_hover = 0;
    int m_pressed = 0;
    int m_hasBitmap = 0;
    char m_caption[256] = {};
    HPEN m_borderPen = nullptr;
    HPEN m_leftPen = nullptr;
    HPEN m_rightPen = nullptr;
    HPEN m_topPen = nullptr;
    HPEN m_bottomPen = nullptr;
};
