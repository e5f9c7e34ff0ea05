// The program-wide instances of the twelve windows, created once at start-up
// in this order and destroyed when the program ends. Each is null until
// start-up created it (a test that builds one window alone leaves the others
// null), so handlers check before use.
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

// Switch the 37 table controls of the main window (Hauptformular).
void EnableTableControls();
void DisableTableControls();
