// Name material of the demo: German surnames, first names, towns and club name patterns.
// Everything is Latin-1 so that it fits the Windows-1252 pages.
#include "tools/mkdemo/demo_model.h"

namespace ringolan::demo {

const NameLists& names() {
    static const NameLists lists{
        // surnames
        {"Müller", "Schmidt", "Schneider", "Fischer", "Weber", "Meyer", "Wagner", "Becker", "Schulz",
         "Hoffmann", "Schäfer", "Koch", "Bauer", "Richter", "Klein", "Wolf", "Schröder", "Neumann",
         "Schwarz", "Zimmermann", "Braun", "Krüger", "Hofmann", "Hartmann", "Lange", "Schmitt",
         "Werner", "Krause", "Meier", "Lehmann", "Schmid", "Schulze", "Maier", "Köhler", "Herrmann",
         "König", "Walter", "Mayer", "Huber", "Kaiser", "Fuchs", "Peters", "Lang", "Scholz", "Möller",
         "Weiß", "Jung", "Hahn", "Schubert", "Vogel", "Friedrich", "Keller", "Günther", "Frank",
         "Berger", "Winkler", "Roth", "Beck", "Lorenz", "Baumann", "Franke", "Albrecht", "Schuster",
         "Simon", "Ludwig", "Böhm", "Winter", "Kraus", "Martin", "Schumacher", "Krämer", "Vogt",
         "Stein", "Jäger", "Otto", "Sommer", "Groß", "Seidel", "Heinrich", "Brandt", "Haas",
         "Schreiber", "Graf", "Dietrich", "Ziegler", "Kuhn", "Kühn", "Pohl", "Engel", "Horn", "Busch",
         "Bergmann", "Voigt", "Sauer", "Arnold", "Pfeiffer", "Strauß", "Preuß", "Meißner", "Voß",
         "Nußbaum", "Dreßler", "Gößwein", "Öttl", "Özdemir", "Öztürk", "Öhler", "Übelhör", "Überle",
         "Ühlein", "Ünal", "Äschlimann", "Äppli", "Ärni", "Yilmaz", "Kowalski", "Nowak", "Rossi",
         "Eisele", "Haller", "Fehrenbach", "Storz", "Hengstler", "Maurer", "Rieger", "Kienzler",
         "Blessing", "Glunz", "Hauser", "Schwenk", "Frey", "Dold", "Wößner", "Schlenker", "Mäder"},
        // male first names
        {"Jürgen", "Jörg", "Günter", "Björn", "Sören", "Hans", "Peter", "Thomas", "Michael", "Andreas",
         "Stefan", "Markus", "Klaus", "Wolfgang", "Uwe", "Dieter", "Helmut", "Lukas", "Jonas",
         "Maximilian", "Felix", "Tobias", "Florian", "Sebastian", "Matthias", "Bernd", "Horst",
         "Rüdiger", "Ralf", "Frank", "Karl-Heinz", "Hans-Peter", "Josef", "Franz", "Alois", "Xaver",
         "Benedikt", "Simon", "Leon", "Noah", "Elias", "Emre", "Mehmet", "Jörn", "Götz", "André"},
        // female first names
        {"Anna", "Maria", "Sabine", "Petra", "Monika", "Ursula", "Gisela", "Renate", "Brigitte",
         "Andrea", "Claudia", "Susanne", "Stefanie", "Julia", "Laura", "Lea", "Sophie", "Marie",
         "Hannah", "Lena", "Katharina", "Christine", "Birgit", "Heike", "Jutta", "Bärbel",
         "Hildegard", "Annegret", "Doris", "Elke", "Käthe", "Lisa", "Franziska", "Theresa",
         "Veronika", "Rosi", "Zoë", "Anke", "Jördis", "Gülsen", "Ulla", "Märta"},
        // towns
        {"Oberndorf", "Müllheim", "Ödenwald", "Überlingen", "Großweiler", "Kirchheim", "Bergheim",
         "Tannheim", "Rötenbach", "Altdorf", "Neustadt", "Hochdorf", "Mühlhausen", "Weißenbach",
         "Schönau", "Sulzbach", "Eschach", "Oberried", "Königsfeld", "Hüfingen", "Bräunlingen",
         "Löffingen", "Fützen", "Dürrheim", "Aasen", "Öfingen", "Grüningen", "Pfohren",
         "Riedöschingen", "Tuningen", "Trossingen", "Aldingen", "Spaichingen", "Wehingen", "Gosheim",
         "Deilingen", "Böttingen", "Mahlstetten", "Egesheim", "Reichenbach", "Tennenbronn",
         "Schramberg", "Lauterbach", "Hardt", "Mariazell", "Dunningen", "Seedorf", "Zimmern",
         "Rottweil", "Dietingen", "Epfendorf", "Fluorn", "Winzeln", "Bösingen", "Villingendorf",
         "Dornhan", "Aistaig", "Äpfingen", "Unterkirnach", "Vöhrenbach", "Gütenbach", "Schönwald",
         "Furtwangen", "Schonach", "Triberg", "Hornberg", "Gutach", "Hausach", "Wolfach", "Schiltach",
         "Lahr", "Ettenheim", "Kenzingen", "Herbolzheim", "Endingen", "Sasbach", "Weisweil",
         "Rheinhausen", "Kappel", "Grafenhausen", "Mahlberg", "Kippenheim", "Friesenheim",
         "Schuttertal", "Seelbach", "Biberach", "Zell", "Nordrach", "Oberharmersbach", "Gengenbach",
         "Ohlsbach", "Ortenberg", "Durbach", "Oppenau", "Bad Peterstal", "Lautenbach", "Sasbachwalden"},
        // club name patterns; '@' stands for the town
        {"SV Tell @", "Schützengilde @", "SG Hubertus @", "Schützenverein @ 1862 e.V.", "KKS Diana @",
         "Schützengesellschaft @", "SSV Edelweiß @", "Schützenbruderschaft St. Sebastian @",
         "Zimmerstutzenverein @", "Schützenkameradschaft @", "SV Gut Ziel @", "Sportschützen @",
         "Schützenverein Frohsinn @", "SG Alpenrose @", "Bürgerschützen @", "KKSV @-Nord"},
    };
    return lists;
}

const std::vector<std::string>& class_names() {
    static const std::vector<std::string> v{"Schützenklasse", "Damenklasse", "Altersklasse", "Seniorenklasse",
                                            "Jugendklasse",   "Juniorenklasse", "Schülerklasse"};
    return v;
}

const std::vector<std::string>& weapon_names() {
    static const std::vector<std::string> v{"LG", "LP", "LG/LP", "KK", "Armbrust"};
    return v;
}

}  // namespace ringolan::demo
