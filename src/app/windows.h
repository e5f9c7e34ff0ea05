// The program-wide instances of the twelve windows, created once at start-up
// in this order and destroyed when the program ends; null before and after.
// Only start-up and the tests that drive a whole start look at them: every
// window is handed what it works with by ProgramWindows (app/startup.h).
#pragma once

class THauptformular;
class TAboutBox;
class TFormUmschalg;
class TFormBild;
class TFormBildSpeichern;
class TFormQR;
class TFormQRListe;
class TFormListe;
class TFormStandardtabelle;
class TFormSuchen;
class TFormPersonAuswahl;
class TFormTabelle;

extern THauptformular* Hauptformular;
extern TAboutBox* AboutBox;
extern TFormUmschalg* FormUmschalg;
extern TFormBild* FormBild;
extern TFormBildSpeichern* FormBildSpeichern;
extern TFormQR* FormQR;
extern TFormQRListe* FormQRListe;
extern TFormListe* FormListe;
extern TFormStandardtabelle* FormStandardtabelle;
extern TFormSuchen* FormSuchen;
extern TFormPersonAuswahl* FormPersonAuswahl;
extern TFormTabelle* FormTabelle;
