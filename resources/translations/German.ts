<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en_US">
<context>
    <name>AboutDialog</name>
    <message>
        <source>About Korvastel</source>
        <translation>Über Korvastel</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Korvastel 1.1.0&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Korvastel 1.1.0&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Korvastel</source>
        <translation>Korvastel</translation>
    </message>
    <message>
        <source> Volume Type</source>
        <translation> Volumentyp</translation>
    </message>
    <message>
        <source>Volume Type</source>
        <translation>Volumentyp</translation>
    </message>
    <message>
        <source>pushButtonVolTypeShape</source>
        <translation>pushButtonVolTypeShape</translation>
    </message>
    <message>
        <source>Shape only</source>
        <translation>Nur Form</translation>
    </message>
    <message>
        <source>pushButtonVolTypeColor</source>
        <translation>pushButtonVolTypeColor</translation>
    </message>
    <message>
        <source>Shape &amp; Color</source>
        <translation>Form &amp; Farbe</translation>
    </message>
    <message>
        <source>Shape</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>Shape + Color</source>
        <translation>Form + Farbe</translation>
    </message>
    <message>
        <source> Volume Size</source>
        <translation> Volumengröße</translation>
    </message>
    <message>
        <source>Volume Size</source>
        <translation>Volumengröße</translation>
    </message>
    <message>
        <source>Small volume size (1m)</source>
        <translation>Kleines Volumen (1 m)</translation>
    </message>
    <message>
        <source>Default volume size (2m)</source>
        <translation>Standardvolumen (2 m)</translation>
    </message>
    <message>
        <source>Large volume size (4m)</source>
        <translation>Großes Volumen (4 m)</translation>
    </message>
    <message>
        <source>Head scan</source>
        <translation>Kopfscan</translation>
    </message>
    <message>
        <source>Head</source>
        <translation>Kopf</translation>
    </message>
    <message>
        <source>Full body scan</source>
        <translation>Ganzkörperscan</translation>
    </message>
    <message>
        <source>Body</source>
        <translation>Körper</translation>
    </message>
    <message>
        <source>Custom volume size</source>
        <translation>Eigene Volumengröße</translation>
    </message>
    <message>
        <source>Custom</source>
        <translation>Eigene</translation>
    </message>
    <message>
        <source>Width</source>
        <translation>Breite</translation>
    </message>
    <message>
        <source> cm</source>
        <translation> cm</translation>
    </message>
    <message>
        <source>Height</source>
        <translation>Höhe</translation>
    </message>
    <message>
        <source>Depth</source>
        <translation>Tiefe</translation>
    </message>
    <message>
        <source> Volume Resolution</source>
        <translation> Volumenauflösung</translation>
    </message>
    <message>
        <source>Volume Resolution</source>
        <translation>Volumenauflösung</translation>
    </message>
    <message>
        <source>Low resolution</source>
        <translation>Niedrige Auflösung</translation>
    </message>
    <message>
        <source>Default resolution</source>
        <translation>Standardauflösung</translation>
    </message>
    <message>
        <source>High resolution</source>
        <translation>Hohe Auflösung</translation>
    </message>
    <message>
        <source>Custom resolution</source>
        <translation>Eigene Auflösung</translation>
    </message>
    <message>
        <source>256 voxels</source>
        <translation>256 Voxel</translation>
    </message>
    <message>
        <source>Voxel resolution</source>
        <translation>Voxelauflösung</translation>
    </message>
    <message>
        <source>1.0 mm</source>
        <translation>1.0 mm</translation>
    </message>
    <message>
        <source> Volume Position</source>
        <translation> Volumenposition</translation>
    </message>
    <message>
        <source>Volume Position</source>
        <translation>Volumenposition</translation>
    </message>
    <message>
        <source>Horizontal position</source>
        <translation>Horizontale Position</translation>
    </message>
    <message>
        <source>Vertical position</source>
        <translation>Vertikale Position</translation>
    </message>
    <message>
        <source>Depth position</source>
        <translation>Tiefenposition</translation>
    </message>
    <message>
        <source>Translate</source>
        <translation>Verschieben</translation>
    </message>
    <message>
        <source>Rotate</source>
        <translation>Drehen</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>Zurücksetzen</translation>
    </message>
    <message>
        <source> Sensor</source>
        <translation> Sensor</translation>
    </message>
    <message>
        <source>Sensor</source>
        <translation>Sensor</translation>
    </message>
    <message>
        <source>Auto White-Balance</source>
        <translation>Automatischer Weißabgleich</translation>
    </message>
    <message>
        <source>Auto-Exposure</source>
        <translation>Automatische Belichtung</translation>
    </message>
    <message>
        <source>Depth Cutoff</source>
        <translation>Tiefenbegrenzung</translation>
    </message>
    <message>
        <source> Compute Device</source>
        <translation> Rechengerät</translation>
    </message>
    <message>
        <source>Compute Device</source>
        <translation>Rechengerät</translation>
    </message>
    <message>
        <source> Timed Reconstruction</source>
        <translation> Zeitsteuerung</translation>
    </message>
    <message>
        <source>Timed Reconstruction</source>
        <translation>Zeitsteuerung</translation>
    </message>
    <message>
        <source>Start delay</source>
        <translation>Startverzögerung</translation>
    </message>
    <message>
        <source> s</source>
        <translation> s</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>Dauer</translation>
    </message>
    <message>
        <source>pushButtonStartReconstruction</source>
        <translation>pushButtonStartReconstruction</translation>
    </message>
    <message>
        <source>Start reconstruction</source>
        <translation>Rekonstruktion starten</translation>
    </message>
    <message>
        <source>Load sequence</source>
        <translation>Sequenz laden</translation>
    </message>
    <message>
        <source>pushButtonRecord</source>
        <translation>pushButtonRecord</translation>
    </message>
    <message>
        <source>Record sequence</source>
        <translation>Sequenz aufnehmen</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Reconstruction</source>
        <translation>Rekonstruktion</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Video FPS</source>
        <translation>Video-FPS</translation>
    </message>
    <message>
        <source>30 fps</source>
        <translation>30 fps</translation>
    </message>
    <message>
        <source>Rec FPS</source>
        <translation>Rek.-FPS</translation>
    </message>
    <message>
        <source>Dropped Frames</source>
        <translation>Verlorene Bilder</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <source>Show color</source>
        <translation>Farbe anzeigen</translation>
    </message>
    <message>
        <source>Reset volume</source>
        <translation>Volumen zurücksetzen</translation>
    </message>
    <message>
        <source>Cancel reconstruction</source>
        <translation>Rekonstruktion abbrechen</translation>
    </message>
    <message>
        <source>pushButtonFinishReconstruction</source>
        <translation>pushButtonFinishReconstruction</translation>
    </message>
    <message>
        <source>Finish reconstruction</source>
        <translation>Rekonstruktion beenden</translation>
    </message>
    <message>
        <source>Rendering</source>
        <translation>Darstellung</translation>
    </message>
    <message>
        <source>Color</source>
        <translation>Farbe</translation>
    </message>
    <message>
        <source>Surface</source>
        <translation>Oberfläche</translation>
    </message>
    <message>
        <source>Surface &amp; Wireframe</source>
        <translation>Oberfläche &amp; Drahtgitter</translation>
    </message>
    <message>
        <source>Wireframe</source>
        <translation>Drahtgitter</translation>
    </message>
    <message>
        <source>Postprocessing</source>
        <translation>Nachbearbeitung</translation>
    </message>
    <message>
        <source> Smooth</source>
        <translation> Glätten</translation>
    </message>
    <message>
        <source>smoothMeshWidget</source>
        <translation>smoothMeshWidget</translation>
    </message>
    <message>
        <source> Decimate</source>
        <translation> Reduzieren</translation>
    </message>
    <message>
        <source> Clean</source>
        <translation> Bereinigen</translation>
    </message>
    <message>
        <source> Crop</source>
        <translation> Zuschneiden</translation>
    </message>
    <message>
        <source> Align</source>
        <translation> Ausrichten</translation>
    </message>
    <message>
        <source> Fill holes</source>
        <translation> Löcher füllen</translation>
    </message>
    <message>
        <source>Undo</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Redo</source>
        <translation>Vor</translation>
    </message>
    <message>
        <source>pushButtonSaveMesh</source>
        <translation>pushButtonSaveMesh</translation>
    </message>
    <message>
        <source>Save mesh</source>
        <translation>Netz speichern</translation>
    </message>
    <message>
        <source>Export to SketchFab</source>
        <translation>Zu SketchFab exportieren</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Fertig</translation>
    </message>
</context>
<context>
    <name>SketchFabDialog</name>
    <message>
        <source>Export to SketchFab</source>
        <translation>Zu SketchFab exportieren</translation>
    </message>
    <message>
        <source>Your SketchFab API Key:</source>
        <translation>Ihr SketchFab-API-Schlüssel:</translation>
    </message>
    <message>
        <source>?</source>
        <translation>?</translation>
    </message>
    <message>
        <source>Title:</source>
        <translation>Titel:</translation>
    </message>
    <message>
        <source>My scan</source>
        <translation>Mein Scan</translation>
    </message>
    <message>
        <source>Description (optional):</source>
        <translation>Beschreibung (optional):</translation>
    </message>
    <message>
        <source>Enter a short description</source>
        <translation>Geben Sie eine kurze Beschreibung ein</translation>
    </message>
    <message>
        <source>Tags (optional):</source>
        <translation>Schlagwörter (optional):</translation>
    </message>
    <message>
        <source>Reconstruction Object Korvastel (seperated by spaces)</source>
        <translation>Rekonstruktion Objekt Korvastel (durch Leerzeichen getrennt)</translation>
    </message>
    <message>
        <source>Requires SketchFab Pro:</source>
        <translation>Erfordert SketchFab Pro:</translation>
    </message>
    <message>
        <source>Private (optional):</source>
        <translation>Privat (optional):</translation>
    </message>
    <message>
        <source>Password (optional):</source>
        <translation>Passwort (optional):</translation>
    </message>
    <message>
        <source>Requires SketchFab Pro</source>
        <translation>Erfordert SketchFab Pro</translation>
    </message>
    <message>
        <source>Upload (%1 MB)</source>
        <translation>Hochladen (%1 MB)</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>%p%</source>
        <translation>%p %</translation>
    </message>
    <message>
        <source>Abort</source>
        <translation>Abbruch</translation>
    </message>
    <message>
        <source>Enter API key and a title</source>
        <translation>API-Schlüssel und Titel eingeben</translation>
    </message>
    <message>
        <source>Please enter a valid API key and a title first</source>
        <translation>Bitte geben Sie zuerst einen gültigen API-Schlüssel und einen Titel ein</translation>
    </message>
    <message>
        <source>Goto &lt;a href=&quot;https://sketchfab.com&quot;&gt;&lt;span style=&quot;text-decoration: underline; color:#00a1d4;&quot;&gt;https://sketchfab.com&lt;/span&gt;&lt;/a&gt; and log in to your account. After clicking on dashboard in the top navigation, you can find your private API key on the right hand side</source>
        <translation>Gehen Sie zu &lt;a href=&quot;https://sketchfab.com&quot;&gt;&lt;span style=&quot;text-decoration: underline; color:#00a1d4;&quot;&gt;https://sketchfab.com&lt;/span&gt;&lt;/a&gt; und melden Sie sich bei Ihrem Konto an. Nachdem Sie in der oberen Navigation auf „Dashboard“ geklickt haben, finden Sie Ihren privaten API-Schlüssel auf der rechten Seite</translation>
    </message>
    <message>
        <source>Upload failed!</source>
        <translation>Hochladen fehlgeschlagen!</translation>
    </message>
    <message>
        <source>The upload has failed. SketchFab returned error: &apos;%1&apos;</source>
        <translation>Das Hochladen ist fehlgeschlagen. SketchFab meldete den Fehler: &apos;%1&apos;</translation>
    </message>
</context>
<context>
    <name>SketchFabUploader</name>
    <message>
        <source>The service did not answer in time</source>
        <translation>Der Dienst hat nicht rechtzeitig geantwortet</translation>
    </message>
    <message>
        <source>Forbidden. Check if your API Key is correct</source>
        <translation>Zugriff verweigert. Bitte prüfen Sie, ob Ihr API-Schlüssel korrekt ist</translation>
    </message>
</context>
<context>
    <name>Veltrane::MainWindow</name>
    <message>
        <source>Initializing sensor ...</source>
        <translation>Sensor wird initialisiert ...</translation>
    </message>
    <message>
        <source>Initializing</source>
        <translation>Initialisierung</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Save mesh</source>
        <translation>Netz speichern</translation>
    </message>
    <message>
        <source>Do you want to save the mesh before exiting?</source>
        <translation>Möchten Sie das Netz vor dem Beenden speichern?</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>Ja</translation>
    </message>
    <message>
        <source>No</source>
        <translation>Nein</translation>
    </message>
    <message>
        <source>index.html</source>
        <translation>index.html</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Couldn&apos;t start sensor. Please make sure your device is connected, has the correct drivers installed and is powered. For setup instructions see the &lt;a href=&apos;%1&apos;&gt;&lt;span style=&quot; text-decoration: underline; color:#00a1d4;&quot;&gt;Readme&lt;/span&gt;&lt;/a&gt;.</source>
        <translation>Der Sensor konnte nicht gestartet werden. Bitte stellen Sie sicher, dass Ihr Gerät angeschlossen ist, die richtigen Treiber installiert sind und es mit Strom versorgt wird. Eine Anleitung zur Einrichtung finden Sie in der &lt;a href=&apos;%1&apos;&gt;&lt;span style=&quot; text-decoration: underline; color:#00a1d4;&quot;&gt;Hilfe&lt;/span&gt;&lt;/a&gt;.</translation>
    </message>
    <message>
        <source>Couldn&apos;t allocate memory for internal buffers. Please check that you have enough memory available. Exiting application.</source>
        <translation>Für die internen Puffer konnte kein Speicher reserviert werden. Bitte stellen Sie sicher, dass genügend Arbeitsspeicher frei ist. Die Anwendung wird beendet.</translation>
    </message>
    <message>
        <source>Couldn&apos;t initialize OpenCL components. Please check that you have an OpenCL-capable GPU and the newest driver installed. Exiting application.</source>
        <translation>Die OpenCL-Komponenten konnten nicht initialisiert werden. Bitte stellen Sie sicher, dass eine OpenCL-fähige Grafikkarte mit dem neuesten Treiber installiert ist. Die Anwendung wird beendet.</translation>
    </message>
    <message>
        <source>Couldn&apos;t find OpenCL capable GPU. Please check that you have an OpenCL-capable GPU and the newest driver installed. Only CPU reconstruction will be available.</source>
        <translation>Es wurde keine OpenCL-fähige Grafikkarte gefunden. Bitte stellen Sie sicher, dass eine OpenCL-fähige Grafikkarte mit dem neuesten Treiber installiert ist. Es ist nur die Rekonstruktion auf der CPU verfügbar.</translation>
    </message>
    <message>
        <source>Couldn&apos;t initialize OpenCL components. Please check that you have an OpenCL-capable GPU and the newest driver installed.</source>
        <translation>Die OpenCL-Komponenten konnten nicht initialisiert werden. Bitte stellen Sie sicher, dass eine OpenCL-fähige Grafikkarte mit dem neuesten Treiber installiert ist.</translation>
    </message>
    <message>
        <source>Align</source>
        <translation>Ausrichten</translation>
    </message>
    <message>
        <source>Couldn&apos;t initialize user interface components. Exiting application.</source>
        <translation>Die Komponenten der Benutzeroberfläche konnten nicht initialisiert werden. Die Anwendung wird beendet.</translation>
    </message>
    <message>
        <source>Waiting for reconstruction start ...</source>
        <translation>Warten auf den Start der Rekonstruktion ...</translation>
    </message>
    <message>
        <source>Reconstruction</source>
        <translation>Rekonstruktion</translation>
    </message>
    <message>
        <source>Could not start reconstruction. Please ensure that your GPU meets the minimum requirements and has enough memory available for the selected volume resolution.</source>
        <translation>Die Rekonstruktion konnte nicht gestartet werden. Bitte stellen Sie sicher, dass Ihre Grafikkarte die Mindestanforderungen erfüllt und genügend Speicher für die gewählte Volumenauflösung hat.</translation>
    </message>
    <message>
        <source>Generating mesh ...</source>
        <translation>Netz wird erzeugt ...</translation>
    </message>
    <message>
        <source>Mesh</source>
        <translation>Netz</translation>
    </message>
    <message>
        <source>Nothing was reconstructed.</source>
        <translation>Es wurde nichts rekonstruiert.</translation>
    </message>
    <message>
        <source>%1 voxels</source>
        <translation>%1 Voxel</translation>
    </message>
    <message>
        <source>The compute device is not ready for a reconstruction. Please wait until it is ready, or choose another compute device.</source>
        <translation>Das Rechengerät ist für eine Rekonstruktion nicht bereit. Bitte warten Sie, bis es bereit ist, oder wählen Sie ein anderes Rechengerät.</translation>
    </message>
    <message>
        <source>Processing mesh ...</source>
        <translation>Netz wird bearbeitet ...</translation>
    </message>
    <message>
        <source>Initializing ...</source>
        <translation>Initialisierung ...</translation>
    </message>
    <message>
        <source>Cannot save empty mesh</source>
        <translation>Ein leeres Netz kann nicht gespeichert werden</translation>
    </message>
    <message>
        <source>Saving mesh...</source>
        <translation>Netz wird gespeichert...</translation>
    </message>
    <message>
        <source>Saving</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>The mesh could not be processed. It was kept as it was.</source>
        <translation>Das Netz konnte nicht bearbeitet werden. Es wurde unverändert beibehalten.</translation>
    </message>
    <message>
        <source>Nothing of the mesh would be left. It was kept as it was.</source>
        <translation>Vom Netz bliebe nichts übrig. Es wurde unverändert beibehalten.</translation>
    </message>
    <message>
        <source>The mesh was not saved. It has been kept.</source>
        <translation>Das Netz wurde nicht gespeichert. Es wurde beibehalten.</translation>
    </message>
    <message>
        <source>The mesh could not be saved to %1.</source>
        <translation>Das Netz konnte nicht unter %1 gespeichert werden.</translation>
    </message>
    <message>
        <source>Korvastel sequences (*.kvs)</source>
        <translation>Korvastel-Sequenzen (*.kvs)</translation>
    </message>
    <message>
        <source>Record sequence</source>
        <translation>Sequenz aufnehmen</translation>
    </message>
    <message>
        <source>Stop recording</source>
        <translation>Aufnahme beenden</translation>
    </message>
    <message>
        <source>Load sequence</source>
        <translation>Sequenz laden</translation>
    </message>
    <message>
        <source>Close sequence</source>
        <translation>Sequenz schließen</translation>
    </message>
    <message>
        <source>Specify capture file</source>
        <translation>Aufnahmedatei festlegen</translation>
    </message>
    <message>
        <source>Saving frames ...</source>
        <translation>Bilder werden gespeichert ...</translation>
    </message>
    <message>
        <source>The sequence file %1 could not be created. Nothing is recorded.</source>
        <translation>Die Sequenzdatei %1 konnte nicht angelegt werden. Es wird nichts aufgenommen.</translation>
    </message>
    <message>
        <source>Not every frame could be written to the sequence file. It holds the frames written before the failure.</source>
        <translation>Nicht alle Bilder konnten in die Sequenzdatei geschrieben werden. Sie enthält die Bilder, die vor dem Fehler geschrieben wurden.</translation>
    </message>
    <message>
        <source>The sequence file %1 could not be opened.</source>
        <translation>Die Sequenzdatei %1 konnte nicht geöffnet werden.</translation>
    </message>
</context>
<context>
    <name>CountDownDialog</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Waiting for reconstruction start ...</source>
        <translation>Warten auf den Start der Rekonstruktion ...</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
</context>
<context>
    <name>CleanMeshWidget</name>
    <message>
        <source>Form</source>
        <translation>Formular</translation>
    </message>
    <message>
        <source>Minimum area</source>
        <translation>Minimale Fläche</translation>
    </message>
    <message>
        <source>100 mm²</source>
        <translation>100 mm²</translation>
    </message>
    <message>
        <source>Maximum area</source>
        <translation>Maximale Fläche</translation>
    </message>
    <message>
        <source>Clean</source>
        <translation>Bereinigen</translation>
    </message>
</context>
<context>
    <name>CropMeshWidget</name>
    <message>
        <source>Form</source>
        <translation>Formular</translation>
    </message>
    <message>
        <source>Translate</source>
        <translation>Verschieben</translation>
    </message>
    <message>
        <source>Rotate</source>
        <translation>Drehen</translation>
    </message>
    <message>
        <source>Scale</source>
        <translation>Skalieren</translation>
    </message>
    <message>
        <source>Crop</source>
        <translation>Zuschneiden</translation>
    </message>
</context>
<context>
    <name>DecimateMeshWidget</name>
    <message>
        <source>Decimate Mesh</source>
        <translation>Netz reduzieren</translation>
    </message>
    <message>
        <source>triangles</source>
        <translation>Dreiecke</translation>
    </message>
    <message>
        <source>100 %</source>
        <translation>100 %</translation>
    </message>
    <message>
        <source>Decimate</source>
        <translation>Reduzieren</translation>
    </message>
</context>
<context>
    <name>SmoothMeshWidget</name>
    <message>
        <source>Smooth Mesh</source>
        <translation>Netz glätten</translation>
    </message>
    <message>
        <source>Iterations</source>
        <translation>Iterationen</translation>
    </message>
    <message>
        <source>Smooth</source>
        <translation>Glätten</translation>
    </message>
</context>
<context>
    <name>PlaybackWidget</name>
    <message>
        <source>Playback</source>
        <translation>Wiedergabe</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <source>Loop</source>
        <translation>Schleife</translation>
    </message>
</context>
</TS>
