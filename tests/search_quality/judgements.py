# Source of judgements.json (run: python3 judgements.py). Each judgement:
# the query, its kind, and the ids that must appear within the first `top`
# hits (in that order when `ordered`), and ids that must not appear there.
import json

J = []
def j(kind, query, top, expect, ordered=False, absent=()):
    J.append({"kind": kind, "query": query, "top": top, "expect": list(expect),
              "ordered": ordered, "absent": list(absent)})

# Exact words and titles.
j("exact", "dune", 3, [7, 8, 9], ordered=True)
j("exact", "hobbit", 2, [5, 6], ordered=True)
j("exact", "interstellar", 1, [10])
j("exact", "casablanca", 2, [89, 219])
j("exact", "galaxy", 2, [54, 55], ordered=True)      # titles before descriptions
j("exact", "sherlock", 3, [11, 12, 92], ordered=True)  # "sherlocks" only after
j("exact", "moby dick", 2, [87], absent=[88])  # every word must match
j("exact", "pride and prejudice", 2, [81, 82], ordered=True)
j("exact", "python", 2, [62, 63])
j("exact", "van gogh", 1, [48])
j("exact", "dust", 1, [202], absent=[64, 65])     # four letters: no typos, so no "rust"
j("exact", "rust", 2, [64, 65], absent=[202])
j("exact", "detective", 4, [11, 12, 92, 22], ordered=True)  # descriptions before tags
j("exact", "tolkien", 4, [1, 2, 3, 5])

# One typo (5 to 8 characters, or one edit in a longer word).
j("typo1", "hobbitt", 2, [5, 6], ordered=True)
j("typo1", "sherlok", 3, [11, 12, 92], ordered=True)
j("typo1", "galxy", 2, [54, 55], ordered=True)
j("typo1", "pinapple", 1, [53])
j("typo1", "zebar", 1, [71])
j("typo1", "quixotte", 1, [72])
j("typo1", "gatsbi", 1, [84])
j("typo1", "pokemno", 1, [30])
j("typo1", "amsterdma", 2, [90, 91])
j("typo1", "headphnoes", 1, [58])
j("typo1", "headphnoes", 3, [59, 218])
j("typo1", "psycholgy", 1, [80])
j("typo1", "mesopotamya", 1, [75])
j("typo1", "holmes", 4, [11, 92, 22, 201], ordered=True)  # "homes" after every exact match
j("typo1", "stone", 2, [13, 17])                           # whole word first
j("typo1", "stone", 4, [204, 16], absent=[205])            # then "stones"; "stove" later

# Two typos (9 characters and more).
j("typo2", "intrestelar", 1, [10])
j("typo2", "baskervile", 1, [22])
j("typo2", "mediteranian", 1, [74])
j("typo2", "archeolgy", 1, [75])
j("typo2", "fotosynthesis", 1, [66])
j("typo2", "chrysantemun", 1, [77])
j("typo2", "extrordinery", 1, [69])
j("typo2", "encyclopdia", 1, [68])
j("typo2", "encyclopdia", 3, [76])
j("typo2", "philosofy", 1, [79])

# Prefixes of one to four characters.
j("prefix", "x", 1, [70])
j("prefix", "q", 3, [55, 67, 72])
j("prefix", "z", 3, [25, 71, 82])
j("prefix", "yel", 1, [73])
j("prefix", "xyl", 1, [70])
j("prefix", "pho", 3, [66, 78, 202])
j("prefix", "mo", 4, [33, 63, 87, 88])
j("prefix", "har", 4, [207, 13, 14, 15])
j("prefix", "lord", 5, [1, 2, 3, 4, 211])
j("prefix", "ch", 5, [9, 15, 56, 57, 77])
j("prefix", "ja", 4, [210, 218, 60, 61])
j("prefix", "java", 1, [61])            # the whole word before "javascript"
j("prefix", "java", 3, [60, 210])
j("prefix", "medit", 1, [74])

# Several words: every word must match; when no document has them all,
# words drop from the end until some document matches.
j("missing", "harry potter goblet", 3, [14], absent=[13, 15])  # one has them all
j("missing", "harry potter xyzzy", 3, [13, 14, 15])
j("missing", "dune messiah xyzzy", 1, [8])
j("missing", "zebra migration tanzania safari", 1, [71])
j("missing", "lord rings extended edition", 3, [1, 2, 3], ordered=True)
j("missing", "star wars phantom menace", 3, [18, 93, 94], ordered=True)
j("missing", "sherlock holmes baskervilles", 3, [22], absent=[11, 92])
j("missing", "escape new york city", 1, [21])
j("missing", "pride prejudice zombies", 2, [82], absent=[81])
j("missing", "amsterdam canal night", 2, [91], absent=[90])

# Phrases: adjacent, in order, no typos.
j("phrase", "\"new york\"", 2, [20, 21], absent=[206])
j("phrase", "\"hot dog\"", 10, [102], absent=[101])  # not across two tags
j("phrase", "\"lord of the flies\"", 1, [4], absent=[1, 2, 3])
j("phrase", "\"great expectations\"", 1, [86])
j("phrase", "\"sherlok holmes\"", 10, [], absent=[11, 22, 92])
j("phrase", "\"the great\"", 2, [84, 85], absent=[86])
j("phrase", "\"star wars\" empire", 1, [93])
j("phrase", "\"star wars\" empire", 3, [18])

# Proximity.
j("proximity", "new york", 2, [20, 21])
j("proximity", "new york", 3, [206])
j("proximity", "holmes sherlock", 3, [11, 92, 22], ordered=True)

# Accents, both ways.
j("accents", "creme brulee", 1, [23])
j("accents", "crème brûlée", 1, [23])
j("accents", "zurich", 1, [25])
j("accents", "sao paulo", 1, [26])
j("accents", "bjork", 1, [27])
j("accents", "miserables", 1, [28])
j("accents", "amelie", 1, [29])
j("accents", "nino", 1, [31])
j("accents", "curacao", 1, [32])
j("accents", "garcia marquez", 1, [46])
j("accents", "motley crue", 1, [33])
j("accents", "cafe", 2, [24, 214], ordered=True)
j("accents", "αθηνα", 1, [44])
j("accents", "lodz", 1, [98])        # letters without a decomposition
j("accents", "strasse", 1, [99])
j("accents", "kobenhavn", 1, [100])

# Mixed case.
j("case", "DUNE", 3, [7, 8, 9], ordered=True)
j("case", "dUnE mEsSiAh", 1, [8])
j("case", "HARRY potter", 3, [13, 14, 15])
j("case", "iPHONE", 1, [51])
j("case", "JavaScript", 1, [60])
j("case", "YELLOWSTONE", 1, [73])
j("case", "МОСКВА", 1, [43])

# Scripts written without spaces, and Korean.
j("cjk", "東京", 2, [34, 38])
j("cjk", "京都", 1, [35])
j("cjk", "京", 4, [34, 35, 36, 38])
j("cjk", "北京", 1, [36], absent=[34, 35, 38])
j("cjk", "烤鸭", 1, [36])
j("cjk", "ラーメン", 1, [39])
j("cjk", "タワー", 1, [34])
j("cjk", "ポケモン", 1, [96])
j("cjk", "历史", 2, [97, 37], ordered=True)
j("cjk", "서울", 1, [40])
j("thai", "กรุงเทพ", 1, [41])
j("thai", "ต้มยำ", 1, [42])
j("thai", "ไทย", 2, [42, 41], ordered=True)

with open("judgements.json", "w", encoding="utf-8") as f:
    f.write("[\n")
    f.write(",\n".join(json.dumps(x, ensure_ascii=False) for x in J))
    f.write("\n]\n")
print(len(J), "judgements")
