#include "pictures/picturebuttons.h"

#include "app/windows.h"
#include "pictures/formbild.h"
#include "pictures/formbildspeichern.h"
#include "platform/ui/messages.h"

namespace vellumo::pictures {

void ButtonSeePicClick() {
    if (FormBild)
        FormBild->ButtonSeePicClick();
    else
        showNotAvailable();
}

void ButtonSavePicClick() {
    if (FormBildSpeichern)
        FormBildSpeichern->showModal();
    else
        showNotAvailable();
}

} // namespace vellumo::pictures
