#!/usr/bin/env python3
"""Writes corpus.json: the documents the judged queries run against.

Hand-written documents carry the judged cases (near-duplicates, accents,
multi-word names, scripts written without spaces); generated household
products fill the index with unrelated text. Documents that must rank LOW
come first in the file, so listing order alone never passes a judgement.
Run it again after editing; the output is committed.
"""
import json
import random

def doc(i, title, description, tags):
    return {"id": i, "title": title, "description": description, "tags": tags}

# Distractors: typo neighbours, prefix neighbours, words in later attributes.
early = [
    doc(201, "Tiny Homes on Wheels", "Building small homes that travel with you.", ["housing", "diy"]),
    doc(202, "Dust Bowl Photographs", "Images of the drought years on the plains.", ["history", "photography"]),
    doc(203, "Field Notes on the Night Sky", "Star charts, a guide to the galaxy we live in, and how to spot planets.", ["astronomy"]),
    doc(204, "Stones of Venice", "An essay on architecture and the stones of the lagoon city.", ["architecture", "italy"]),
    doc(205, "The Stove Book", "Cooking on a wood stove through the winter.", ["cooking"]),
    doc(206, "Walking the Walls of York", "A walking guide to York Minster, the old walls, and a new map of every gate in the city.", ["travel", "england"]),
    doc(207, "Harry and the Hendersons", "A family takes in a gentle giant.", ["film", "comedy"]),
    doc(208, "The Potter's Wheel", "Throwing bowls and vases on a wheel.", ["ceramics", "craft"]),
    doc(209, "Sherlocks of the Sea", "Marine biologists who solve ocean mysteries.", ["science", "ocean"]),
    doc(210, "Javanese Cooking", "Recipes from the island of Java.", ["cooking", "indonesia"]),
    doc(211, "Lord Byron: Selected Poems", "The poet's best known works.", ["poetry"]),
    doc(212, "Rings of Saturn", "A tour of the planet's rings and moons.", ["astronomy"]),
    doc(213, "Dunes of the Namib", "The tallest sand dunes on earth.", ["nature", "africa"]),
    doc(214, "Cafeteria Classics", "School lunch recipes.", ["cooking"]),
    doc(215, "Interstate Highways of America", "The road network that crosses the country.", ["travel", "history"]),
    doc(216, "Philosophers' Football", "A comedy sketch and its history.", ["comedy"]),
    doc(217, "Encyclopedic Knowledge of Wine", "Regions, grapes and vintages.", ["wine"]),
    doc(218, "Headphone Jack Repair", "Fixing the socket on old phones.", ["repair", "electronics"]),
    doc(219, "Casablanca Street Food", "Eating your way through Morocco's largest city.", ["travel", "food"]),
    doc(220, "Archery for Beginners", "Bows, arrows and stance.", ["sport"]),
]

main = [
    doc(1, "The Lord of the Rings: The Fellowship of the Ring", "A hobbit named Frodo sets out to destroy a powerful ring.", ["fantasy", "novel", "tolkien"]),
    doc(2, "The Lord of the Rings: The Two Towers", "The fellowship is broken and the war for Middle-earth begins.", ["fantasy", "novel", "tolkien"]),
    doc(3, "The Lord of the Rings: The Return of the King", "The last battle for Middle-earth and the end of the ring.", ["fantasy", "novel", "tolkien"]),
    doc(4, "Lord of the Flies", "Schoolboys stranded on an island turn on each other.", ["novel", "classic"]),
    doc(5, "The Hobbit", "Bilbo Baggins joins thirteen dwarves on a quest for treasure.", ["fantasy", "novel", "tolkien"]),
    doc(6, "The Hobbit: An Unexpected Journey", "The film of the first part of Bilbo's adventure.", ["fantasy", "film"]),
    doc(7, "Dune", "Paul Atreides and the desert planet Arrakis.", ["science fiction", "novel"]),
    doc(8, "Dune Messiah", "Twelve years after the first novel, Paul rules an empire.", ["science fiction", "novel"]),
    doc(9, "Children of Dune", "The twins of Paul Atreides come of age.", ["science fiction", "novel"]),
    doc(10, "Interstellar", "Astronauts travel through a wormhole in search of a new home, far across the galaxy.", ["film", "science fiction"]),
    doc(11, "The Adventures of Sherlock Holmes", "Twelve stories of the detective and Doctor Watson.", ["detective", "classic"]),
    doc(12, "Sherlock", "A modern television version of the detective stories.", ["television", "detective"]),
    doc(13, "Harry Potter and the Philosopher's Stone", "A boy learns he is a wizard on his eleventh birthday.", ["fantasy", "novel"]),
    doc(14, "Harry Potter and the Goblet of Fire", "A dangerous tournament between three schools of magic.", ["fantasy", "novel"]),
    doc(15, "Harry Potter and the Chamber of Secrets", "A hidden chamber beneath the school is opened.", ["fantasy", "novel"]),
    doc(16, "The Rolling Stones: Live at the Max", "A concert film of the band's 1990 tour.", ["music", "rock"]),
    doc(17, "Stone Soup", "A folk tale about travellers who make soup from a stone.", ["folk tale", "children"]),
    doc(18, "Star Wars: A New Hope", "A farm boy joins a rebellion against the empire.", ["film", "science fiction"]),
    doc(19, "Star Trek: The Next Generation", "The crew of the Enterprise explores the galaxy.", ["television", "science fiction"]),
    doc(20, "New York, New York", "A musical drama about a saxophone player and a singer.", ["film", "music"]),
    doc(21, "Escape from New York", "A prisoner is sent into Manhattan to rescue the president.", ["film", "action"]),
    doc(22, "The Hound of the Baskervilles", "Sherlock Holmes and Watson investigate a legendary hound on the moor.", ["detective", "novel"]),
    doc(23, "Crème brûlée", "A custard with a layer of hard caramel on top.", ["dessert", "french"]),
    doc(24, "Café au lait", "Coffee with hot milk, the French way.", ["drink", "french"]),
    doc(25, "Zürich City Guide", "Lakes, banks and the old town of Switzerland's largest city.", ["travel", "switzerland"]),
    doc(26, "São Paulo Street Food", "Pastel, coxinha and other snacks of Brazil's biggest city.", ["travel", "brazil", "food"]),
    doc(27, "Björk: Homogenic", "The Icelandic singer's third studio album.", ["music", "album"]),
    doc(28, "Les Misérables", "Victor Hugo's novel of Jean Valjean.", ["novel", "classic", "french"]),
    doc(29, "Amélie", "A shy waitress in Montmartre decides to change the lives of others.", ["film", "french"]),
    doc(30, "Pokémon Red", "Catch creatures and battle gym leaders.", ["game"]),
    doc(31, "El Niño and the Pacific", "How warm ocean water changes the weather worldwide.", ["science", "climate"]),
    doc(32, "Curaçao Travel Notes", "Beaches and colourful houses of Willemstad.", ["travel", "caribbean"]),
    doc(33, "Mötley Crüe: The Dirt", "The band's own story.", ["music", "biography"]),
    doc(34, "東京タワー", "東京の観光名所です。展望台から富士山が見えます。", ["日本", "観光"]),
    doc(35, "京都の寺", "京都には千以上の寺があります。", ["日本", "寺"]),
    doc(36, "北京烤鸭", "北京最有名的菜。", ["中国", "美食"]),
    doc(37, "上海外滩", "上海的历史建筑群。", ["中国", "旅游"]),
    doc(38, "東京大学", "日本の国立大学。", ["日本", "大学"]),
    doc(39, "ラーメンの作り方", "家で作るラーメン。", ["料理"]),
    doc(40, "서울 여행", "서울의 명소와 맛집.", ["한국", "여행"]),
    doc(41, "กรุงเทพมหานคร", "เมืองหลวงของประเทศไทย", ["ไทย", "ท่องเที่ยว"]),
    doc(42, "อาหารไทย", "ต้มยำกุ้งและผัดไทย", ["ไทย", "อาหาร"]),
    doc(43, "Москва", "Столица России.", ["город"]),
    doc(44, "Αθήνα", "Η πρωτεύουσα της Ελλάδας.", ["πόλη"]),
    doc(45, "Leonardo da Vinci", "Painter, engineer and inventor of the Renaissance.", ["biography", "art"]),
    doc(46, "Gabriel García Márquez: One Hundred Years of Solitude", "Seven generations of the Buendía family.", ["novel", "colombia"]),
    doc(47, "Martin Luther King Jr.", "The life of the civil rights leader.", ["biography", "history"]),
    doc(48, "Vincent van Gogh: Letters", "The painter's letters to his brother Theo.", ["art", "letters"]),
    doc(49, "Vincent Price Horror Collection", "Five classic horror films.", ["film", "horror"]),
    doc(50, "Van Halen", "The rock band's first album.", ["music", "rock"]),
    doc(51, "Apple iPhone 13 Pro", "A phone with three cameras.", ["phone", "electronics"]),
    doc(52, "Apple MacBook Air", "A thin and light laptop.", ["laptop", "electronics"]),
    doc(53, "Pineapple Upside-Down Cake", "A retro cake with caramelised fruit.", ["dessert", "baking"]),
    doc(54, "Samsung Galaxy S21", "An Android phone with a large screen.", ["phone", "electronics"]),
    doc(55, "Galaxy Quest", "Actors from a space television show meet real aliens.", ["film", "comedy"]),
    doc(56, "Mechanical Keyboard with Cherry Switches", "Tactile keys for typing all day.", ["computer", "keyboard"]),
    doc(57, "Cherry Pie", "A lattice pie with sour cherries.", ["dessert", "baking"]),
    doc(58, "Wireless Headphones", "Noise cancelling headphones with long battery life.", ["audio", "electronics"]),
    doc(59, "Headphone Amplifier", "A small amplifier for studio headphone use.", ["audio"]),
    doc(60, "JavaScript: The Good Parts", "The reliable subset of the language.", ["programming", "book"]),
    doc(61, "Java Concurrency in Practice", "Threads, locks and the memory model.", ["programming", "book"]),
    doc(62, "Python Crash Course", "A hands-on introduction to programming.", ["programming", "book"]),
    doc(63, "Monty Python and the Holy Grail", "King Arthur and his knights search for the grail.", ["film", "comedy"]),
    doc(64, "Programming Rust", "Fast, safe systems development.", ["programming", "book"]),
    doc(65, "Rust Belt Stories", "Towns of the old industrial Midwest.", ["history"]),
    doc(66, "Photosynthesis Explained", "How plants turn light into sugar.", ["science", "biology"]),
    doc(67, "Quantum Mechanics for Beginners", "Waves, particles and uncertainty.", ["science", "physics"]),
    doc(68, "Encyclopedia of Mammals", "Every family of mammals, with pictures.", ["science", "reference"]),
    doc(69, "Extraordinary Popular Delusions", "Manias and bubbles through history.", ["history", "economics"]),
    doc(70, "Xylophone Lessons for Kids", "Songs and exercises for young players.", ["music", "children"]),
    doc(71, "Zebra Migration in the Serengeti", "Following the herds across Tanzania.", ["nature", "africa"]),
    doc(72, "Don Quixote", "Cervantes' knight tilts at windmills.", ["novel", "classic", "spanish"]),
    doc(73, "Yellowstone National Park", "Geysers, hot springs and bison.", ["travel", "nature"]),
    doc(74, "Mediterranean Diet Cookbook", "Olive oil, fish and vegetables.", ["cooking", "health"]),
    doc(75, "Archaeology of Mesopotamia", "The first cities between two rivers.", ["history", "archaeology"]),
    doc(76, "Encyclopaedia Britannica", "The classic general reference work.", ["reference"]),
    doc(77, "Chrysanthemum Gardening", "Growing and showing autumn flowers.", ["gardening"]),
    doc(78, "Photography Basics", "Light, exposure and composition.", ["photography", "art"]),
    doc(79, "Philosophy of Mind", "Consciousness, thought and the body.", ["philosophy"]),
    doc(80, "Psychology Today", "Essays on behaviour and the mind.", ["psychology"]),
    doc(81, "Pride and Prejudice", "Elizabeth Bennet and Mr Darcy.", ["novel", "classic"]),
    doc(82, "Pride and Prejudice and Zombies", "The classic, with the undead.", ["novel", "parody"]),
    doc(83, "Sense and Sensibility", "The Dashwood sisters in love.", ["novel", "classic"]),
    doc(84, "The Great Gatsby", "Jay Gatsby's parties on Long Island.", ["novel", "classic"]),
    doc(85, "The Great British Bake Off", "Amateur bakers compete in a tent.", ["television", "baking"]),
    doc(86, "Great Expectations", "The orphan Pip and his benefactor.", ["novel", "classic"]),
    doc(87, "Moby Dick", "Captain Ahab hunts the white whale.", ["novel", "classic"]),
    doc(88, "Moby: Play", "An electronic album built on old recordings.", ["music", "album"]),
    doc(89, "Casablanca", "A nightclub owner in wartime Morocco.", ["film", "classic"]),
    doc(90, "Amsterdam Canal Tour", "Boats, bridges and gabled houses.", ["travel", "netherlands"]),
    doc(91, "The Amsterdam Canals at Night", "A photo book of the city after dark.", ["photography", "netherlands"]),
    doc(92, "Sherlock Holmes: A Game of Shadows", "The detective faces Moriarty.", ["film", "detective"]),
    doc(93, "Star Wars: The Empire Strikes Back", "The rebels flee across the galaxy.", ["film", "science fiction"]),
    doc(94, "Lego Star Wars", "Building block versions of the saga.", ["game", "toys"]),
    doc(95, "Wars of the Roses", "The star chamber and the throne of England, a history of civil war.", ["history", "england"]),
    doc(96, "ポケモン図鑑", "ポケモンの一覧。", ["ゲーム"]),
    doc(97, "中国历史", "中国五千年的历史。", ["中国", "历史"]),
    doc(98, "Łódź Film School", "Poland's famous school of cinema.", ["film", "poland"]),
    doc(99, "Straße der Romantik", "A road trip through eastern Germany.", ["travel", "germany"]),
    doc(100, "København Harbour Baths", "Swimming in the clean water of the harbour.", ["travel", "denmark"]),
    doc(101, "Knitting Patterns", "Warm jumpers and scarves for the winter.", ["hot", "dog"]),  # two values, not a phrase
    doc(102, "The Hot Dog Stand", "Sausages in buns at the ballpark.", ["food"]),
]

ADJECTIVES = ["rustic", "modern", "vintage", "compact", "portable", "elegant", "durable", "colorful",
              "minimal", "handmade", "folding", "heavy", "slim", "bright", "quiet"]
NOUNS = ["lamp", "chair", "table", "blanket", "kettle", "backpack", "notebook", "umbrella", "candle",
         "mirror", "basket", "clock", "rug", "vase", "bench", "shelf", "cushion", "tray"]
MATERIALS = ["oak", "bamboo", "linen", "ceramic", "copper", "wool", "glass", "leather", "steel",
             "cotton", "walnut", "marble"]
PLACES = ["kitchens", "small apartments", "offices", "gardens", "cabins", "studios", "hallways",
          "reading corners", "balconies"]

def filler():
    rnd = random.Random(8)
    out, seen = [], set()
    i = 1000
    while len(out) < 240:
        a, n, m = rnd.choice(ADJECTIVES), rnd.choice(NOUNS), rnd.choice(MATERIALS)
        if (a, n, m) in seen:
            continue
        seen.add((a, n, m))
        p = rnd.choice(PLACES)
        out.append(doc(i, f"{a.capitalize()} {m} {n}",
                       f"A {a} {n} made of {m}, suited to {p}. Ships flat, assembles in minutes.",
                       [m, n, "home"]))
        i += 1
    return out

docs = early + main + filler()
ids = [d["id"] for d in docs]
assert len(ids) == len(set(ids))
with open("corpus.json", "w", encoding="utf-8") as f:
    f.write("[\n")
    f.write(",\n".join(json.dumps(d, ensure_ascii=False) for d in docs))
    f.write("\n]\n")
print(len(docs), "documents")
