// The demonstration window of the toolkit's own tests: one control of each kind, in the main
// window's geometry. Its handlers write to the log (and so to standard error on Linux).
#pragma once

#include <string>

#include "platform/toolkit.h"

namespace demo {

inline TMemo* Memo1;
inline TButton* Button1;
inline TButton* Button2;
inline TTrackBar* TrackBar1;
inline TTrackBar* TrackBar2;
inline TLabel* Label1;
inline TLabel* Label6;

template <class T>
T* Place(TForm& form, const char* name, int left, int top, int width, int height, int tab) {
  auto* control = new T(&form);
  control->Name = name;
  control->Left = left;
  control->Top = top;
  control->Width = width;
  control->Height = height;
  control->TabOrder = tab;
  return control;
}

inline void Build(TForm& form) {
  form.Name = "Form1";
  form.ClassName = "TForm1";
  form.SetCaption("Microsoft FlightSim to Korvan Avionics EFIS bridge");
  form.Left = 262;
  form.Top = 250;
  form.Width = 587;
  form.Height = 430;
  Memo1 = Place<TMemo>(form, "Memo1", 8, 8, 553, 161, 0);
  Button1 = Place<TButton>(form, "Button1", 16, 184, 169, 25, 1);
  Button1->SetCaption("Reconnect to Flight simulator");
  Button1->OnClick = [](TObject*) { Memo1->Lines.Add("Button1 clicked"); };
  Button2 = Place<TButton>(form, "Button2", 16, 216, 169, 25, 2);
  Button2->SetCaption("Reconnect to EFIS ");
  Button2->OnClick = [](TObject*) { Memo1->Lines.Add("Button2 clicked"); };
  Button2->SetEnabled(false);
  TrackBar1 = Place<TTrackBar>(form, "TrackBar1", 328, 240, 150, 41, 3);
  TrackBar2 = Place<TTrackBar>(form, "TrackBar2", 496, 184, 33, 150, 4);
  for (TTrackBar* bar : {TrackBar1, TrackBar2}) {
    bar->Min = -512;
    bar->Max = 512;
    bar->Frequency = 64;
    bar->TickMarks = TTickMarks::TopLeft;
  }
  TrackBar2->Orientation = TTrackBarOrientation::Vertical;
  Label1 = Place<TLabel>(form, "Label1", 24, 360, 183, 13, 0);
  Label1->SetCaption("Version 1.1 released 29/October/2010");
  Label6 = Place<TLabel>(form, "Label6", 472, 336, 89, 41, 0);
  Label6->SetCaption("Pitch servo (Trio Varex port 2)");
  Label6->AutoSize = false;
  Label6->WordWrap = true;
  Label6->Alignment = TTextAlign::Center;
  form.ActiveControl = Memo1;
  form.OnActivate = [](TObject*) { Memo1->Lines.Add("activated"); };
}

}  // namespace demo
