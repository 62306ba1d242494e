#include "AppWindows.h"

#include "Fabout.h"
#include "Fmain.h"
#include "Fsetform.h"
#include "fexpsel.h"

Texpsel* expsel = nullptr;

void CreateWindows(MeterDriver& driver)
{
    Main = new TMain(driver);
    About = new TAbout();
    Setform = new TSetform();
    expsel = new Texpsel();
}

void DestroyWindows()
{
    delete expsel;
    expsel = nullptr;
    delete Setform;
    Setform = nullptr;
    delete About;
    About = nullptr;
    delete Main;
    Main = nullptr;
}
