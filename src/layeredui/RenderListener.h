#pragma once

class CTranslucentWnd;

// Whoever composes the frame a widget draws into. A widget whose look changed
// calls OnWidgetChanged; the listener decides when the new frame is made.
// Called on the user-interface thread (widgets hop there before calling).
class IRenderListener {
public:
    virtual ~IRenderListener() = default;
    virtual void OnWidgetChanged(CTranslucentWnd* widget) = 0;
};
