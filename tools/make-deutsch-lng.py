#!/usr/bin/env python3
"""Writes the German language file data/Language/Deutsch.lng.

Language files are 8-bit text in a Windows code page named by the line
"Single_Byte_Character"; this one is code page 1252 with CR LF line ends, one
"Key Text" line per text key of the built-in English table.

The script refuses to write the file when a key of core/files/Language_En.cpp has no
German text, when it lists a key that table does not know, or when a text cannot be
written in code page 1252.

Usage: tools/make-deutsch-lng.py [output]   (default: data/Language/Deutsch.lng)
"""

import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
ENGLISH_TABLE = ROOT / "core" / "files" / "Language_En.cpp"
CODE_PAGE = 1252

GERMAN = {
    # Units and general words
    "Dim_RPM_Short": "U/min",
    "Dim_Bar_Long": "bar",
    "Dim_Hour_Short": "h",
    "Dim_Hour_Long": "Std.",
    "Dim_Volt_Short": "V",
    "Dim_Volt_Long": "Volt",
    "Dim_MS_Short": "ms",
    "Dim_Sec_Long": "s",
    "Dim_KM_Short": "km",
    "Dim_MM_Short": "mm",
    "Yes": "Ja",
    "No": "Nein",
    "Start": "Start",
    "Stop": "Stopp",
    "Gas": "Gas",
    "Petrol": "Benzin",
    "Automat": "Automatik",
    "Mode": "Modus",
    "RPM": "Drehzahl",
    "Manifuld": "Saugrohr",
    "Clear": "Löschen",
    "Save": "Speichern",
    "Load": "Laden",
    "Default": "Standard",
    "Exit": "Beenden",
    "File": "Datei",
    "Language": "Sprache",
    "Point": "Punkt",
    "Factor": "Faktor",
    "Table": "Tabelle",
    "Range": "Bereich",
    "Dialogue": "Dialog",
    "Flip": "Drehen",
    "Port": "Port",
    "Name": "Name",
    "Font": "Schrift",
    "Delay": "Verzögerung",
    "Message": "Meldung",
    "Quantity": "Anzahl",
    "Settings": "Einstellungen",
    "Color": "Farbe",
    "AutoSearchPort": "Port automatisch suchen",
    "Firmware": "Firmware",
    "Date": "Datum",
    "Type": "Typ",
    # Status line
    "DynamicIND_Error": "FEHLER",
    "DynamicIND_Error_TempVap": "Temperatursensor Verdampfer - schwerer Fehler",
    "DynamicIND_Error_TempGas": "Temperatursensor Gas - schwerer Fehler",
    "DynamicIND_Error_PressVap": "Drucksensor Verdampfer - schwerer Fehler",
    "DynamicIND_Error_PressColl": "Drucksensor Saugrohr - schwerer Fehler",
    "DynamicIND_Error_LinkInject": "Durchfluss der Gasinjektoren reicht nicht aus. Düsendurchmesser vergrößern.",
    "DynamicIND_Error_GasLeakage": "Anlage undicht. Gas tritt aus.",
    "DynamicIND_Error_ShortCircuit": "Kurzschluss Gasinjektoren",
    "DynamicIND_Errors_NotPresent": "Keine Fehler vorhanden.",
    "DynamicIND_Errors_ECU_Works": "Das Steuergerät arbeitet normal.",
    "DynamicIND_Low_pressure": "Druck zu niedrig",
    "DynamicIND_Normal_pressure": "Druck normal",
    "DynamicIND_Engine_on": "Motor läuft",
    "DynamicIND_Engine_off": "Motor aus",
    "DynamicIND_Engine_Idling": "Leerlaufdrehzahl einstellen",
    "DynamicIND_Save_Data": "Daten werden gespeichert",
    "DynamicIND_Not_Save_Data": "Leerlauf einstellen oder auf Benzin umschalten",
    "DynamicIND_Receiv_On": "Daten werden gelesen",
    "DynamicIND_Receiv_Off": "Daten geladen",
    "DynamicIND_Transmission": "Datenübertragung",
    # Indicator column
    "IND_RPM": "Drehzahl",
    "IND_PressVap": "P, Verdampfer",
    "IND_PressColl": "P, Saugrohr",
    "IND_PressDiff": "P, Differenz",
    "IND_TempVap": "T, Verdampfer",
    "IND_TempGas": "T, Gas",
    "IND_Port_Search": "Port suchen",
    # Setup page
    "Page_CFG": "Einstellung",
    "CFG_Config": "Konfiguration",
    "CFG_Config_RPM_Prescaler": "Drehzahlteiler",
    "CFG_Config_PG_Temper": "Umschalten auf Gas ab Temperatur",
    "CFG_Config_PG_RPM": "Umschalten auf Gas ab Drehzahl",
    "CFG_Config_Injection": "Benzineinspritzung",
    "CFG_Config_Gas_Type": "Gasart",
    "CFG_Config_Level_Sensor": "Typ des Füllstandsgebers",
    "CFG_Config_LevelGas_Buzzer": "Summer bei niedrigem Gasstand",
    "CFG_Config_GP_Buzzer": "Summer beim Umschalten auf Benzin",
    "CFG_Config_PG_GAS_Hot_Engine": "Bei warmem Motor direkt auf Gas starten",
    "CFG_LevelSensor": "Füllstandsgeber",
    "CFG_LevelSensor_Current": "Aktueller Wert",
    "CFG_Errors": "Fehler",
    "CFG_User": "Einbaudaten",
    "CFG_User_Name": "Name",
    "CFG_User_Phone": "Telefon",
    "CFG_User_Install_Date": "Einbaudatum",
    "CFG_User_Install_KM": "Kilometerstand bei Einbau",
    "CFG_User_Gas_Jets": "Düsendurchmesser Gas",
    "CFG_User_Notice": "Bemerkung",
    # Auto Calibration page
    "Page_ACB": "Autokalibrierung",
    "ACB_Pet_on_Pet": "Benzin im Benzinbetrieb",
    "ACB_Pet_on_Gas": "Benzin im Gasbetrieb",
    "ACB_Gas_on_Gas": "Gas",
    "ACB_Prompt_Start": "Zum Starten der Autokalibrierung „START“ drücken.",
    "ACB_Prompt_Wait": "Bitte warten.",
    "ACB_Prompt_Execute": "Autokalibrierung läuft.",
    "ACB_Prompt_Clear_Influence": "Einflussfaktoren werden zurückgesetzt",
    "ACB_Prompt_CLB_Transmit": "Kalibrierdaten werden übertragen",
    "ACB_Prompt_CFG_Transmit": "Konfigurationsdaten werden übertragen",
    "ACB_Prompt_CLB_Idling": "Leerlaufpunkt wird übertragen",
    "ACB_Prompt_Restore_Influence": "Einflussfaktoren werden wiederhergestellt",
    "ACB_Prompt_Restore_CLB": "Kalibrierdaten werden wiederhergestellt",
    "ACB_Prompt_Support_Sample": "Stützwerte werden gemessen.",
    "ACB_Prompt_Support_Transmit": "Stützwerte werden übertragen.",
    "ACB_Prompt_set_RPM": "Drehzahl einstellen",
    "ACB_Prompt_raised_RPM": "Aktuelle Drehzahl halten",
    "ACB_Prompt_set_RPM_xx": "Leerlaufdrehzahl einstellen",
    "ACB_Prompt_ACB_Continue": "Autokalibrierung wird fortgesetzt. Bitte warten.",
    "ACB_Prompt_Not_Petrol": "Kein Signal von den Benzininjektoren.",
    "ACB_Prompt_Connect": "Autokalibrierung fehlgeschlagen. Keine Verbindung zum Steuergerät",
    "ACB_Prompt_Recommend_Max": "Düsendurchmesser vergrößern und Autokalibrierung wiederholen.",
    "ACB_Prompt_Recommend_Min": "Düsendurchmesser verkleinern und Autokalibrierung wiederholen.",
    "ACB_Prompt_Failed": "Autokalibrierung fehlgeschlagen.",
    "ACB_Prompt_Stopped": "Autokalibrierung abgebrochen.",
    "ACB_Prompt_Finish": "Autokalibrierung beendet.",
    "ACB_Prompt_Completion": "Autokalibrierung erfolgreich abgeschlossen.",
    # Graph page
    "Page_CLB": "Kennlinie",
    "CLB_History_Diagram": "Verlauf der Kennlinie",
    "CLB_History_Back": "Schritt zurück",
    "CLB_History_Forward": "Schritt vor",
    "MAP_Ctrl": "Vorläufige Korrektur der Kennlinie durchführen?",
    "MAP_Ctrl_Transmit": "Geänderte Kennlinie senden und Gas-MAP-Punkte löschen",
    "MAP_Ctrl_No_Pair": "Zu wenig Daten für die Korrektur der Kennlinie",
    "MAP_Ctrl_No_Calc": "Die MAP-Daten erfordern keine Korrektur der Kennlinie",
    "MAP_Collection": "MAP-Punkte sammeln",
    "MAP_Delete": "MAP-Punkte löschen",
    "MAP_To_Count": "Berechnen",
    # Map page and messages
    "Page_RPM": "Kennfeld",
    "Error_File_not_found": "Datei nicht gefunden",
    "Error_Temperature": "Temperaturfehler",
    "Error_Port_Echoes": "Der Anschluss gibt zurück, was er erhält: eine Rückschleife oder ein Adapter mit Echo, kein Steuergerät.",
    "Backup_Not_Saved": "Die Sicherung der aus dem Steuergerät gelesenen Daten konnte nicht gespeichert werden:",
    "Error_Version": "Für einen fehlerfreien Betrieb bitte eine neuere Programmversion installieren",
    "No_Port": "Kein Port",
    "Search_Port": "Portverbindung wird gesucht",
    "Finds_Port": "Gefundener Port wird geöffnet",
    "CFG_Config_PG_Time": "Umschaltverzögerung",
    "CLB_Idle_Run_Points": "Leerlaufpunkte",
    "Run_ACB_SCR_Innovational": "Innovative Autokalibrierung starten?",
    "Msg_Close_Window_After": "Das Fenster schließt in",
    "Simulated_ECU": "simuliertes Steuergerät",
    "Operation_Read": "Lesen des Steuergeräts",
    "Operation_Mode": "Die Umschaltung der Betriebsart",
    "Operation_Write_All": "Das Schreiben der ganzen Einstellung",
    "Operation_Write_Config": "Das Schreiben der Konfiguration",
    "Operation_Write_Diagram": "Das Schreiben des Kennfelds",
    "Operation_Write_Map": "Das Schreiben der Drehzahlkorrektur",
    "Operation_Clear_Errors": "Das Löschen der Fehler",
    "Operation_Erase_MAP": "Das Löschen der MAP-Punkte",
    "Operation_Auto_Calibration": "Die Autokalibrierung",
    "Operation_Not_Connected": "Das Steuergerät ist nicht verbunden.",
    "Operation_Link_Lost": "Die Verbindung zum Steuergerät ist abgebrochen.",
    "Operation_Line_Loses_Replies":
        "Die Leitung verliert Antworten: das Steuergerät hat einen Austausch nach 3 Versuchen nicht abgeschlossen. Bitte Kabel und Stecker prüfen.",
    "Operation_Write_Partial": "wurde nicht abgeschlossen; das Steuergerät hat möglicherweise einen Teil davon.",
    "Operation_Write_Unconfirmed": "wurde gesendet, aber das Steuergerät hat das Speichern nicht gemeldet.",
    "Operation_Not_Sent": "wurde nicht gesendet.",
    "Operation_Not_Saved": "Das Steuergerät hat das Speichern der geschriebenen Daten nicht gemeldet.",
    "Operation_Edits_Not_Written": "Noch nicht geschriebene Änderungen wurden nicht geschrieben.",
    "ACB_Partial_Calibration": "Das Steuergerät enthält eine unvollständige Kalibrierung.",
    "ACB_Restore_When_Back": "Was es vor der Autokalibrierung enthielt, wird zurückgeschrieben, sobald es wieder antwortet.",
    "ACB_Result_When_Back": "Die neue Kalibrierung wird vollständig geschrieben, sobald es wieder antwortet.",
    "ACB_Restore_Other_Ecu": "Ein anderes Steuergerät hat geantwortet: Von der Autokalibrierung wurde nichts darauf geschrieben. Das Steuergerät der Autokalibrierung enthält weiter eine unvollständige Kalibrierung und erhält, was es enthalten soll, sobald es wieder antwortet.",
    "ACB_Restore_Done": "Was das Steuergerät vor der Autokalibrierung enthielt, wurde zurückgeschrieben.",
    "ACB_Result_Written": "Die neue Kalibrierung wurde vollständig in das Steuergerät geschrieben.",
    "ACB_Not_Confirmed": "Das Steuergerät hat das Speichern der Kalibrierung nicht bestätigt.",
    "Operation_Values_Read_Again": "Die angezeigten Werte werden neu aus dem Steuergerät gelesen, sobald es antwortet.",
    # Main-window buttons
    "Button_GEN_Flip": "Drehen",
    "Button_GEN_Settings": "Einstellungen",
    # Settings window
    "SET_Program_Code": "Programmcode",
    "SET_Port_Manual": "Manuell",
    "SET_Skin": "Design, Schrift, Farbe",
    "SET_Transmit_Delay": "Sendeverzögerung nach Änderung, ms",
    "SET_Idle_Points": "Leerlaufpunkte in der Kennlinie anzeigen",
    "SET_Map_Point": "MAP-Punkt in der Kennlinie anzeigen",
    "SET_Diagram_Joystick": "Joystick an der Kennlinie anzeigen",
    "SET_Opacity": "Deckkraft",
    "SET_ACB_Algorithm": "Algorithmus der Autokalibrierung",
    # Skin window
    "SKIN_Window": "Programmdesigns",
    "SKIN_Program_Color": "Programmfarbe",
    "SKIN_Font_Color": "Schriftfarbe",
    "SKIN_Font_Style": "Schriftstil",
    # Colour names
    "Color_3D_General": "Allgemeine Schriftfarbe",
    "Color_3D_Automat": "MODUS: Automatik",
    "Color_3D_Petrol": "MODUS: Benzin",
    "Color_3D_Gas": "MODUS: Gas",
    "Color_3D_RPM": "Drehzahl",
    "Color_3D_PressVap": "Verdampferdruck",
    "Color_3D_Manifuld": "Saugrohr",
    "Color_3D_PressDiff": "Differenzdruck",
    "Color_3D_TempVap": "Verdampfertemperatur",
    "Color_3D_TempGas": "Gastemperatur",
    "Color_3D_Port_Open": "Verbindungsport offen",
    "Color_3D_Port_Close": "Verbindungsport geschlossen",
    "Color_3D_Txt_Not_Default": "Meldungsart: keine Werkseinstellung",
    "Color_3D_Txt_Attention": "Meldungsart: Achtung",
    "Color_3D_Txt_Information": "Meldungsart: Information",
    "Color_3D_Txt_Complete": "Meldungsart: Abgeschlossen",
    "Color_3D_Txt_Recomm": "Meldungsart: Empfehlung",
    "Color_3D_Txt_Error": "Meldungsart: Fehler",
    "Color_3D_Diagram": "Kennlinie",
    "Color_3D_Diagram_Grid": "Raster der Kennlinie",
    "Color_3D_Diagram_Gas": "Kennlinienpunkt: „Benzin-Gas“",
    "Color_3D_Diagram_Vacuum": "Kennlinienpunkt: „Benzin-Unterdruck“",
    "Color_3D_Diagram_ReCalc": "Neuberechnung der Kennlinie",
    "Color_3D_Diagram_Marked": "Ausgewählter Punkt der Kennlinie",
    "Color_3D_Diagram_Fixed": "Fester Punkt der Kennlinie",
    "Color_3D_Diagram_Idle": "Kennlinienpunkt: „Leerlauf“",
    "Color_3D_Map_Point_Line": "MAP-Punktpaar",
    "Color_3D_Map_Point_Gas": "MAP-Punkte Gas",
    "Color_3D_Map_Point_Petrol": "MAP-Punkte Benzin",
    "Color_3D_ACB_Pet_Pet": "Autokalibrierung: Benzin im Benzinbetrieb",
    "Color_3D_ACB_Pet_Gas": "Autokalibrierung: Benzin im Gasbetrieb",
    "Color_3D_ACB_Gas_Gas": "Autokalibrierung: Gas",
    "Color_3D_MapRPM_Gas": "Drehzahlkennfeld: Gas",
    "Color_3D_MapRPM_Pet": "Drehzahlkennfeld: Benzin",
    "Color_3D_MapRPM_Gas_Tail": "Drehzahlkennfeld: Gas-Spur",
    "Color_3D_MapRPM_Pet_Tail": "Drehzahlkennfeld: Benzin-Spur",
    "Color_3D_MapRPM_Cell_Corr": "Drehzahlkennfeld: Korrekturanzeige",
    "Color_3D_MapRPM_Select_Cell": "Drehzahlkennfeld: gewählte Zelle oder Gruppe",
    # Edits not on the ECU or not in the file
    "Edits_Mark_ECU": "[Nicht im Steuergerät]",
    "Edits_Mark_File": "[Nicht in der Datei]",
    "Edits_Kept_Title": "Zurückgelegte Änderungen",
    "Edits_Kept_Text": "Änderungen, die das Steuergerät nicht erreicht hatten, wurden vor dem erneuten Lesen zurückgelegt. Das Programm zeigt jetzt, was das Steuergerät enthält.",
    "Edits_Kept_Other_Ecu": "Sie wurden nicht für dieses Steuergerät gemacht und können nicht hineingeschrieben werden.",
    "Edits_Kept_Busy": "Eine Autokalibrierung verwendet gerade das Steuergerät.",
    "Edits_Write": "Ins Steuergerät schreiben",
    "Edits_Save": "In Datei speichern",
    "Edits_Drop": "Verwerfen",
    "Edits_Name": "Dateiname",
    "Edits_Bad_Name": "Ein Konfigurationsname hat 1 bis 8 Zeichen und keine Pfadzeichen.",
    "Edits_Written": "Die Änderungen sind im Steuergerät.",
    "Edits_Saved": "Die Änderungen sind gespeichert in",
    "Edits_Close_Title": "Ungesicherte Änderungen",
    "Edits_Close_Text": "Einige Änderungen sind weder im Steuergerät noch in einer Konfigurationsdatei. Vor dem Schließen speichern?",
    "Edits_Close_Save": "Speichern",
    "Edits_Close_Without": "Schließen ohne Speichern",
    "Edits_Cancel": "Abbrechen",
}


def english_keys():
    text = ENGLISH_TABLE.read_text(encoding="utf-8")
    return re.findall(r'Entry\{"([^"]+)",', text)


def main():
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "data" / "Language" / "Deutsch.lng"
    keys = english_keys()
    missing = [k for k in keys if k not in GERMAN]
    unknown = [k for k in GERMAN if k not in keys]
    if missing or unknown:
        sys.exit(f"missing German texts: {missing}; keys not in the English table: {unknown}")
    lines = ["{ Deutsch }", f"Single_Byte_Character {CODE_PAGE}"]
    lines += [f"{key} {GERMAN[key]}" for key in keys]
    data = ("\r\n".join(lines) + "\r\n").encode(f"cp{CODE_PAGE}")  # raises on an unmappable text
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_bytes(data)
    print(f"{out}: {len(keys)} texts, {len(data)} bytes")


if __name__ == "__main__":
    main()
